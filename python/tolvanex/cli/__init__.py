"""The commands under tools/: each is a thin face of a `main(argv)` here."""
