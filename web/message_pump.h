// The points where WebRequest lets pending window messages be handled. A front end with a
// message loop installs its pump; without one (the command-line tool, the tests) nothing runs.
#pragma once

namespace korvanel {

using MessagePump = void (*)();

// Installs pump (nullptr removes it). Safe to call from any thread.
void SetMessagePump(MessagePump pump);
// Runs the installed pump once, if there is one.
void ProcessPendingMessages();

}  // namespace korvanel
