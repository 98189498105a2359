// The trace file (concentrations over time) and the flux file (cumulative
// net fluxes over time). Both are only ever appended to, so one trace file
// can hold several runs and flux_analysis.txt gathers every run started in
// its folder, each introduced by a line naming the run's trace file. Their
// columns are those of the species and flux tables.
#pragma once

#include "model/reaction_network.h"
#include "report/output_streams.h"
#include "setup/rate_table.h"
#include "setup/run_parameters.h"

namespace tolvanex {

// Flux file run line, trace file banner, and the "Run parameters" lines of
// both, with A and S as they stand after set-up.
void write_header_start(const RunParameters& p, const SpeciesState& start, const OutputStreams& out);

// Molecule-type notes (trace file only) and the barrier and constant of
// every step in both files.
void write_rate_constant_lines(const RunParameters& p, const RateTable& rates,
                               const OutputStreams& out);

// Column headers and time-0 rows of both files, and the pH line of the trace
// file; in organomercurial mode also the organic-product column and its
// console note.
void write_header_end(const RunParameters& p, const SpeciesState& start, const OutputStreams& out);

// One row of each table at the end of a block.
void append_block_rows(double time, const SpeciesState& s, const FluxTotals& totals,
                       bool organomercurial, const OutputStreams& out);

}  // namespace tolvanex
