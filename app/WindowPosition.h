#pragma once
// Where the main window stands between runs: its top-left corner, kept per
// user in the registry (HKEY_CURRENT_USER\Software\Quarn, values "top" and
// "left").

#include <windows.h>

// Moves Window to the stored place, or to (Default, Default) when none is
// stored or the stored place lies on no screen (after a monitor change).
void ApplyStoredPosition(HWND Window, int Default);

// Stores where Window stands (its normal place when it is minimised).
void StorePosition(HWND Window);
