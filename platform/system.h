#pragma once
// modSystem: what the window asks of the operating system itself.
//
// The names (modSystem, IsVistaOrLater, ShellVerb) and the shell verbs
// "Runas" and "Open" come from the Windows program Quorrel was first written
// as, and are kept so that the window's shell call reads as it always has.
// Neither verb asks for administrator rights here: a document or web address
// is always opened with the user's default handler, unelevated.

#include <QString>

namespace modSystem {

// True only on Windows NT 6.0 (Vista) or later, as the desktop backend reports
// the system's version.
bool IsVistaOrLater();

// The shell verb chosen for this system: "Runas" when IsVistaOrLater,
// otherwise "Open".
QString ShellVerb();

}  // namespace modSystem
