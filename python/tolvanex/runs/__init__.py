"""One run of a program: `Run` and `run()` (`run`), the run folder's records
(`folder`), the readers of the trace file and ``flux_analysis.txt``,
their tables as DataFrames (`frames`), how a run ended (`outcome`), values
at times (`values`) and the programs themselves (`programs`)."""
