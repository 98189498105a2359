"""A run's tables written for other programs: CSV (`run_csv`)."""
