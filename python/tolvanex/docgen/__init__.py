"""Generators of the tables in docs/ from the package's own data and runs,
apart from the library: run from the project root as
``PYTHONPATH=python /usr/bin/python3 -m tolvanex.docgen.NAME``."""
