// tolvanex_unpruned: the same program with every net flux kept as the rate
// laws give it, so that steps may run backwards and small fluxes stay.
#include "programs/entry_sequence.h"

int main(int argc, char** argv) {
  return tolvanex::run_program<tolvanex::FluxPruning::Off>(argc, argv);
}
