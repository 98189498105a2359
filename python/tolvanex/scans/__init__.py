"""Many runs: the grid or the named cases of a scan, its manifest
``scan.json``, carrying the runs out with GNU parallel or on Slurm, the
lock on the scan folder, the progress line and the summary."""
