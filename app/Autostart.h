#pragma once
// The autostart entry under the Run key and the mouse double-click values
// (Windows only: the registry of the user running the program).
#include <string>

constexpr const char* kAutostartValueName = "MorvikVantrel";
constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kMouseKey = "Control Panel\\Mouse";

// The program's full path stored as value `name` of the Run key (which is
// opened, never created); true when stored. `machine` picks
// HKEY_LOCAL_MACHINE instead of HKEY_CURRENT_USER.
bool WriteAutostart(const char* name, bool machine = false);
// Removes value `name`; true when removed.
bool DeleteAutostart(const char* name, bool machine = false);
// True when value `name` holds exactly this program's path. Anything else
// (another copy, an older place) is deleted and false returned.
bool IsAutostartCurrent(const char* name, bool machine = false);
// "DoubleClickHeight" "40", "DoubleClickWidth" "40", "DoubleClickSpeed"
// "480" under Control Panel\Mouse; a value that cannot be written is skipped.
void WriteDoubleClickSettings();
// The running program's full path.
std::string ProgramFilePath();
