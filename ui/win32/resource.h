#pragma once
// Resource numbers shared by quorrel.rc and the window. The icon has the
// lowest number, so Explorer shows it as the program's.
#define IDI_QUORREL 1
#define IDC_HAND_POINTER 2
