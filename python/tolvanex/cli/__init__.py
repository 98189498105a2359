"""The command-line faces of the package: ``tolvanex-plot``,
``tolvanex-scan`` and ``tolvanex-check`` (each module's `main(argv)`
returns the exit status); `options` holds what they share."""
