"""The command-line faces of the package: ``tolvanex-plot``,
``tolvanex-scan``, ``tolvanex-check`` and ``tolvanex-rate-control`` (each
module's `main(argv)` returns the exit status); `options` holds what they
share."""
