// Standard input, output and error as the run needs them. A program started
// with one of them closed would hand that descriptor number to the first
// file it opens, and the console report (or a warning) would then be
// written into the trace file.
#pragma once

namespace tolvanex {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. False
// when one stays closed (no /dev/null to be had): the run must not start.
bool open_closed_standard_descriptors();

}  // namespace tolvanex
