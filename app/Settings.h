#pragma once
// The settings file next to the program: section "Settings", read and
// written at each use, nothing cached.
#include <cstddef>
#include <string>

constexpr const char* kSettingsSection = "Settings";
constexpr const char* kMouseEnableKey = "MouseEnable";
constexpr const char* kVidPidListKey = "Vid&PidList";

// The program path with its extension replaced by "ini" ("%s.ini" on the
// path cut at the dot). A path without a four-character extension gets
// ".ini" appended, so the file still sits next to the program.
std::string SettingsPathFor(const std::string& programPath);
// SettingsPathFor the running program.
std::string SettingsFilePath();

std::string ReadSettingsString(const std::string& settingsPath, const char* key,
                               const std::string& def, std::size_t bufferSize = 260);
bool WriteSettingsString(const std::string& settingsPath, const char* key,
                         const std::string& value);

// Off only when the stored value starts with '0'; a missing file means on.
bool ReadMouseEnable(const std::string& settingsPath);
bool ReadMouseEnable();
// Stores "1" or "0".
void WriteMouseEnable(const std::string& settingsPath, bool on);
void WriteMouseEnable(bool on);
