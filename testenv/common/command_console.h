// The command console of the stand-in programs: a test writes one command a
// line to their standard input and reads one answer a line from their
// standard output, while their main thread takes its window messages at the
// pace the program sets.
#pragma once

#include <windows.h>

#include <string>

namespace testenv {

// One answer line on standard output (cut at 8 KiB).
void ConsoleReply(const char* format, ...);

// Dispatches the calling thread's window messages, those sent to it by other
// threads included.
void PumpThreadMessages();

// How often the console's thread takes its window messages: kPromptly as
// soon as one arrives; every <ms>, busy in between; or only when the program
// calls PumpThreadMessages itself (kWhenTold). Whatever the pace, command
// lines run as soon as they arrive, so a test can still talk to a program
// whose windows are slow to answer. Sent messages are taken only at those
// moments: another thread's SendMessage, ShowWindow or SetWindowPos on one of
// the thread's windows waits for them.
constexpr DWORD kPromptly = 0;
constexpr DWORD kWhenTold = INFINITE;
void SetMessagePace(DWORD everyMs);
DWORD MessagePace();

// Runs each line of standard input through `execute` on the calling thread,
// taking its messages in between at the pace set, until `execute` returns
// false or the input ends. Lines are read on a thread of their own: a pipe
// that nobody closes leaves that thread in its read, and the process ends it
// at exit.
void RunCommandConsole(bool (*execute)(const std::string& line));

}  // namespace testenv
