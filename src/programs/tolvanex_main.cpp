// tolvanex: the full program, which drops negligible net fluxes (below
// 1e-12 of the largest) after every evaluation of the reaction network.
#include "programs/entry_sequence.h"

int main(int argc, char** argv) {
  return tolvanex::run_program<tolvanex::FluxPruning::On>(argc, argv);
}
