// The console's key read.
#pragma once

namespace graybmp {

// Waits for one key press without echo and without waiting for a line end. When standard
// input is not a console (a pipe, a file, /dev/null, closed) it reads one byte or the end
// of input instead, so scripts can run the tool with `< /dev/null`.
void waitForKey();

// Gives the console back the settings the key wait changed, if it is waiting. Safe to call
// from a signal handler.
void restoreConsole();

// Whether standard output (or, when not `output`, standard input) is a terminal.
bool consoleIsTerminal(bool output);

}  // namespace graybmp
