"""The command-line faces of the package: ``tolvanex-plot``,
``tolvanex-scan``, ``tolvanex-check`` and ``tolvanex-rate-control``, one
module each, whose `main(argv)` returns the exit status.  `command` is the
one way they run (parse, work, exit statuses, closed pipes, Ctrl-C);
`options` holds what their command lines share."""
