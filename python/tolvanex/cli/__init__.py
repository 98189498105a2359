"""The command-line faces of the package: ``tolvanex-plot`` and
``tolvanex-scan`` (each module's `main(argv)` returns the exit status)."""
