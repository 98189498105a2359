// Shared by the engine's tests: the bundled examples as requests, the sums
// the mechanism conserves, and states by species.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/solve_request.h"
#include "engine/state_layout.h"

namespace tolvanex::engine {

// examples/NAME.args as a request, read by the programs' own parser.
inline SolveRequest example_request(const std::string& name) {
  std::ifstream in(std::string(TOLVANEX_SOURCE_DIR) + "/examples/" + name + ".args");
  std::vector<std::string> words;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream split(line);
    for (std::string w; split >> w;) words.push_back(w);
  }
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  const RunParameters p = parse_run_parameters(static_cast<int>(argv.size()), argv.data());
  SolveRequest r;
  r.conditions.barriers = p.DeltaG;
  r.conditions.pH = p.pH;
  r.conditions.acceptor_type = p.MoleculeType;
  r.conditions.organomercurial = p.organomercurial;
  r.enzyme = p.A0;
  r.acceptor = p.S0;
  r.organomercurial = p.PHMB0;
  r.end_time = p.wanted_time;
  return r;
}

inline const std::vector<std::string> kExamples = {"mera", "dithiothreitol", "glutathione",
                                                   "organomercurial"};

inline double amount(const double* y, Species x) { return y[state_index(x)]; }

// Mercury: PHMB + ES + A + C..N + Q + P; enzyme: A + C..N + Q + O1..O3 + MerB + ES;
// acceptor: S + C..N + Q + P (twice the second-thiol forms for a monothiol).
struct ConservedSums {
  double mercury = 0, enzyme = 0, acceptor = 0;
};
inline ConservedSums conserved_sums(const double* y, bool monothiol) {
  using enum Species;
  ConservedSums s;
  double bound = amount(y, A);
  for (Species x : {C, D, E, F, G, I, J, K, L, M, N, Q}) bound += amount(y, x);
  s.mercury = amount(y, PHMB) + amount(y, ES) + bound + amount(y, P);
  s.enzyme = bound + amount(y, O1) + amount(y, O2) + amount(y, O3) + amount(y, MerB) + amount(y, ES);
  s.acceptor = amount(y, S) + bound - amount(y, A) + amount(y, P);
  if (monothiol) {
    for (Species x : {F, I, J, L, M, N, P}) s.acceptor += amount(y, x);
  }
  return s;
}

}  // namespace tolvanex::engine
