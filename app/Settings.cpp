#include "app/Settings.h"

#include "platform/IniFile.h"
#include "platform/Trace.h"

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
  if (platform::WriteIniString(settingsPath, kSettingsSection, key, value)) return true;
  // The service keeps going with what it has; the person supporting it
  // learns why the setting will not be there next time.
  char why[256];
  TRACE_WARN("settings: could not write %s to %s: %s", key, settingsPath.c_str(),
             platform::ErrorText(why, sizeof why));
  return false;
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

namespace {
// Enough for any list a person would keep (about 116,000 entries).
constexpr std::size_t kWholeValue = 1 << 20;
}  // namespace

void LoadVidPidList(const std::string& settingsPath, VidPidList& list) {
  const std::string text = ReadSettingsString(settingsPath, kVidPidListKey, "", kVidPidTextBuffer);
  ParseVidPidList(text.c_str(), kVidPidTextBuffer, list);
  // A value that filled the buffer, or the entries, may go on beyond it:
  // read it whole once to say what is left out.
  if (list.count == kMaxVidPidEntries || text.size() + 1 >= kVidPidTextBuffer) {
    const std::string whole = ReadSettingsString(settingsPath, kVidPidListKey, "", kWholeValue);
    const VidPidCut cut = FindVidPidCut(whole.c_str(), list.count);
    if (cut.total > list.count)
      TRACE_WARN(
          "settings: %s lists %zu entries; entries %zu to %zu (from %08X on) are not "
          "used: the service reads %zu characters and at most %zu entries",
          kVidPidListKey, cut.total, list.count + 1, cut.total, unsigned(cut.firstCut),
          kVidPidTextBuffer - 1, kMaxVidPidEntries);
  }
  if (list.count != 0) return;
  DefaultVidPidList(list);
  WriteSettingsString(settingsPath, kVidPidListKey, FormatVidPidList(list));
}
