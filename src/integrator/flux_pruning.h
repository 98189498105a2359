// Which of the two programs is being built: the full one drops negligible
// net fluxes after every evaluation, the other keeps them all.
#pragma once

namespace tolvanex {

enum class FluxPruning { On, Off };

}  // namespace tolvanex
