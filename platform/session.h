#pragma once

// The desktop session the program runs in, and the ways a run ends from
// outside the window: the display that does not answer or goes away, the
// window destroyed by another program, SIGINT and SIGTERM.

#include <string>

enum class DisplayKind { X11, Wayland };

// Whether the display Name (a DISPLAY or WAYLAND_DISPLAY value) takes a
// connection now. Connects and hangs up at once, without Qt, so that a
// display that is not there can be told before Qt aborts on it.
bool displayAnswers(DisplayKind Kind, const std::string& Name);

namespace Session {

// Once the Qt application exists, on the UI thread:
// - SIGINT and SIGTERM ask every top-level window to close, as its close
//   box does (a running camera is stopped first); a second one, while
//   that close is under way, ends the process at once by its default action;
// - a top-level window destroyed by another X client is closed the same way;
// - the connection to the display breaking (Qt's X11 plugin then calls
//   exit(1) from inside the event loop) ends the process with exit code 1
//   and one line, instead of tearing down half-destroyed windows.
void watch();

// Brackets the event loop: an exit() from under it is the display gone.
void setEventLoopRunning(bool Running);

// The signal that asked the program to end, or 0.
int endSignal();

// Before the Qt application goes: signals take their default action again
// and nothing refers to Qt's display connection any more.
void unwatch();

}  // namespace Session
