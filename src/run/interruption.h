// SIGINT and SIGTERM end a run at the end of its current block, as a
// termination test would: the block's report and rows are written and both
// files are flushed and closed. The handler only records the signal.
#pragma once

namespace tolvanex {

// Installs the handlers of SIGINT and SIGTERM, leaving one that was ignored
// at start-up ignored.
void install_interruption_handlers();

// The signal that asked the run to stop, or 0.
int interruption_signal();

}  // namespace tolvanex
