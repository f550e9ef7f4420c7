#include "app/Settings.h"

#include <algorithm>
#include <cstdlib>

#include "platform/IniFile.h"
#include "platform/Ipv4Address.h"
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

namespace {

// Reads one "Listen" key whole; empty when absent or blank. `cut` (when
// given) is set if it goes on beyond kWholeValue characters.
std::string ListenValue(const std::string& path, const char* key, bool* cut = nullptr) {
  for (std::size_t size = 4096;; size = std::min(size * 8, kWholeValue)) {
    std::string v = platform::ReadIniString(path, kListenSection, key, "", size);
    // A value that filled the buffer may go on beyond it.
    if (v.size() + 1 < size) return v;
    if (size == kWholeValue) {
      if (cut) *cut = true;
      return v;
    }
  }
}

// The extra origins, never more than were listed: a list longer than the
// service reads keeps its whole entries only, since the cut one could be
// another origin ("http://kiosk.example:8000" cut to "http://kiosk.example").
std::string ReadOrigins(const std::string& path) {
  bool cut = false;
  std::string origins = ListenValue(path, "WebSocketOrigins", &cut);
  if (!cut) return origins;
  const std::size_t lastSeparator = origins.find_last_of(" ,\t");
  const std::size_t kept = lastSeparator == std::string::npos
                               ? 0
                               : origins.find_last_not_of(" ,\t", lastSeparator) + 1;
  TRACE_WARN(
      "settings: Listen WebSocketOrigins is longer than the %zu characters the service reads; "
      "only the origins in its first %zu characters are accepted, from \"%s\" on none",
      kWholeValue - 1, kept, trace::Escaped(std::string_view(origins).substr(kept)).c_str());
  origins.erase(kept);
  return origins;
}

// A whole decimal number in [low, high].
bool ParseNumber(const std::string& text, long low, long high, long& out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = std::strtol(text.c_str(), nullptr, 10);
  return out >= low && out <= high;
}

void Refused(const char* key, const std::string& value) {
  TRACE_WARN("settings: Listen %s=\"%s\" cannot be used, the default applies", key,
             trace::Escaped(value).c_str());
}

void ReadSwitch(const std::string& path, const char* key, bool& on) {
  const std::string v = ListenValue(path, key);
  if (v == "1" || v == "0")
    on = v == "1";
  else if (!v.empty())
    Refused(key, v);
}

void ReadAddress(const std::string& path, const char* key, std::string& address) {
  const std::string v = ListenValue(path, key);
  std::uint32_t parsed;
  if (platform::ParseIpv4(v, parsed))
    address = v;
  else if (!v.empty())
    Refused(key, v);
}

template <typename T>
void ReadNumber(const std::string& path, const char* key, long low, long high, T& value) {
  const std::string v = ListenValue(path, key);
  long n;
  if (ParseNumber(v, low, high, n))
    value = T(n);
  else if (!v.empty())
    Refused(key, v);
}

void ReadStream(const std::string& path, const std::string& prefix, StreamListener::Options& o) {
  ReadSwitch(path, prefix.c_str(), o.enabled);
  ReadAddress(path, (prefix + "Address").c_str(), o.address);
  ReadNumber(path, (prefix + "Port").c_str(), 1, 65535, o.port);
  ReadNumber(path, (prefix + "Clients").c_str(), 1, StreamListener::kMaxClients, o.maxClients);
}

}  // namespace

void ReadListenSettings(const std::string& settingsPath, OutputEndpoints& endpoints) {
  endpoints.tuioTcp = OutputEndpoints::DefaultTuioTcp();
  endpoints.tuioTcp.enabled = true;
  endpoints.webSocket = OutputEndpoints::DefaultWebSocket();
  endpoints.webSocket.enabled = true;
  ReadStream(settingsPath, "TuioTcp", endpoints.tuioTcp);
  ReadStream(settingsPath, "WebSocket", endpoints.webSocket);
  endpoints.webSocket.origins = ReadOrigins(settingsPath);
  ReadSwitch(settingsPath, "WebCalibration", endpoints.webSocket.calibration);
  ReadAddress(settingsPath, "XmlAddress", endpoints.xml.address);
}
