// The command console of the stand-in programs: a test writes one command a
// line to their standard input and reads one answer a line from their
// standard output, while their main thread keeps pumping window messages.
#pragma once

#include <string>

namespace testenv {

// One answer line on standard output (cut at 8 KiB).
void ConsoleReply(const char* format, ...);

// Dispatches the calling thread's window messages.
void PumpThreadMessages();

// Runs each line of standard input through `execute` on the calling thread,
// pumping its messages in between, until `execute` returns false or the input
// ends. Lines are read on a thread of their own: a pipe that nobody closes
// leaves that thread in its read, and the process ends it at exit.
void RunCommandConsole(bool (*execute)(const std::string& line));

}  // namespace testenv
