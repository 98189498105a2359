// Standard input, output and error as the run needs them. A program started
// with one of them closed would hand that descriptor number to the first
// file it opens, and the console report (or a warning) would then be
// written into the trace file. A console whose reader has gone (`| head`)
// would end the program by SIGPIPE in the middle of a block report, with
// rows of the files still in their buffers.
#pragma once

namespace tolvanex {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. False
// when one stays closed (no /dev/null to be had): the run must not start.
bool open_closed_standard_descriptors();

// Ignores SIGPIPE, whatever its disposition at start: a write to a pipe or
// FIFO without a reader then fails with EPIPE, and the run ends at the next
// check of that stream as on any other write error, its files closed after
// a whole block.
void report_broken_pipes_as_write_errors();

}  // namespace tolvanex
