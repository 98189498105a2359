"""The model and a run's tables written for other programs: CSV of a run's
tables (`run_csv`), the rate equations as SBML (`sbml`)."""
