"""The model: a run's parameters by name, the species and the acceptor's
speciation, the mechanism and its rate constants, what each species carries of the
conserved quantities (`balances`), and the exact solution
of the rate equations (`exact`).  No files, no programs."""
