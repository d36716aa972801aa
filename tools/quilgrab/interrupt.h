#pragma once

// Ctrl-C and SIGTERM ask the running grabs to stop: each finishes the file it is writing (so
// the file stays playable), no new input starts, and the program exits 130 or 143.

namespace quil::grab {

void InstallInterruptHandlers();
bool Interrupted();
// The exit status of an interrupted run: 128 + the signal.
int InterruptedExitStatus();

}  // namespace quil::grab
