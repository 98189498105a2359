"""One run of a program: `Run` and `run()` (`run`), the run folder's records
(`folder`), the readers of the trace file and ``flux_analysis.txt``,
their tables as DataFrames (`frames`), how a run ended (`outcome`), values
at times (`values`), the programs themselves (`programs`), the amounts the
console prints (`console_amounts`) and a run's result on one screen
(`report`)."""
