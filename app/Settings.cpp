#include "app/Settings.h"

#include "platform/IniFile.h"

std::string SettingsPathFor(const std::string& programPath) {
  const std::size_t n = programPath.size();
  if (n > 4 && programPath[n - 4] == '.') return programPath.substr(0, n - 4) + ".ini";
  return programPath + ".ini";
}

std::string SettingsFilePath() {
  return SettingsPathFor(platform::ProgramPath());
}

std::string ReadSettingsString(const std::string& settingsPath, const char* key,
                               const std::string& def, std::size_t bufferSize) {
  return platform::ReadIniString(settingsPath, kSettingsSection, key, def, bufferSize);
}

bool WriteSettingsString(const std::string& settingsPath, const char* key,
                         const std::string& value) {
  return platform::WriteIniString(settingsPath, kSettingsSection, key, value);
}

bool ReadMouseEnable(const std::string& settingsPath) {
  const std::string v = ReadSettingsString(settingsPath, kMouseEnableKey, "1", 260);
  return v.empty() || v[0] != '0';
}
bool ReadMouseEnable() {
  return ReadMouseEnable(SettingsFilePath());
}

void WriteMouseEnable(const std::string& settingsPath, bool on) {
  WriteSettingsString(settingsPath, kMouseEnableKey, on ? "1" : "0");
}
void WriteMouseEnable(bool on) {
  WriteMouseEnable(SettingsFilePath(), on);
}

void LoadVidPidList(const std::string& settingsPath, VidPidList& list) {
  const std::string text = ReadSettingsString(settingsPath, kVidPidListKey, "", kVidPidTextBuffer);
  ParseVidPidList(text.c_str(), kVidPidTextBuffer, list);
  if (list.count != 0) return;
  DefaultVidPidList(list);
  WriteSettingsString(settingsPath, kVidPidListKey, FormatVidPidList(list));
}
