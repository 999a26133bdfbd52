// Reports what modSystem makes of the Windows version it runs on, for
// platform_test.cpp, which starts it under versions wine pretends to be:
// exit status bit 0 IsVistaOrLater, bit 1 a "Runas" ShellVerb.
#include "platform/system.h"

int main() { return (modSystem::IsVistaOrLater() ? 1 : 0) | (modSystem::ShellVerb() == "Runas" ? 2 : 0); }
