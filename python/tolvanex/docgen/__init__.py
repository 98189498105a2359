"""Generators of the tables in docs/, run from the project root with
``/usr/bin/python3 -m tolvanex.docgen.NAME``."""
