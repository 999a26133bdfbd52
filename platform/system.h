#pragma once
// modSystem: what the window asks of the operating system itself, the same on
// every system (system.cpp), through the desktop backend (backend.h). Texts
// are UTF-8.
//
// The names (modSystem, IsVistaOrLater, ShellVerb) and the shell verbs
// "Runas" and "Open" come from the Windows program Quorrel was first written
// as, and are kept so that the window's shell call reads as it always has.
// Neither verb asks for administrator rights here: a document or web address
// is always opened with the user's default handler, unelevated.

#include <string>

#include "platform/backend.h"

namespace modSystem {

using quorrel::platform::owner_window;

// True only on Windows NT 6.0 (Vista) or later, from the version the system
// really runs (not the one a compatibility layer shows the program).
bool IsVistaOrLater();

// The shell verb chosen for this system: "Runas" when IsVistaOrLater,
// otherwise "Open".
std::string ShellVerb();

// Opens `target`, a web address or a document's path, with the user's
// default handler, never elevated. `verb` is the caller's choice (ShellVerb)
// and only names it: the system is always asked to "open", since "Runas"
// would ask for administrator rights to show a web page.
//
// True when the handler accepted the target. On failure `errorText` receives
// the system's reason when it gives one (Windows does), and is left as it
// was otherwise (Qt gives none). Nothing is thrown.
bool ShellOpen(owner_window owner, const std::string& verb, const std::string& target,
               std::string& errorText);

}  // namespace modSystem
