"""Pictures: of one run, of a scan's summary and of a rate-control study,
and what a picture of a run shows (`choices`)."""
