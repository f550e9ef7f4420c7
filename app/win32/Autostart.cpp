#include "app/Autostart.h"

#include <windows.h>

#include <cstdio>

namespace {

HKEY Root(bool machine) {
  return machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// REG_SZ data includes its terminating NUL, as RegSetValueExA requires.
bool SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

std::string ProgramFilePath() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : 0);
}

bool WriteAutostart(const char* name, bool machine) {
  HKEY key;
  if (RegOpenKeyA(Root(machine), kRunKey, &key) != ERROR_SUCCESS) return false;
  const bool ok = SetString(key, name, ProgramFilePath());
  RegCloseKey(key);
  return ok;
}

bool DeleteAutostart(const char* name, bool machine) {
  HKEY key;
  if (RegOpenKeyA(Root(machine), kRunKey, &key) != ERROR_SUCCESS) return false;
  const bool ok = RegDeleteValueA(key, name) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool IsAutostartCurrent(const char* name, bool machine) {
  const std::string own = ProgramFilePath();
  // At most 260 bytes; one more for a terminator the stored data may lack.
  char stored[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  DWORD type = 0;
  HKEY key;
  if (RegOpenKeyA(Root(machine), kRunKey, &key) == ERROR_SUCCESS) {
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(stored), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
      size = 0;
    }
    RegCloseKey(key);
  } else {
    size = 0;
  }
  stored[size] = '\0';
  if (!own.empty() && own == stored) return true;
  DeleteAutostart(name, machine);
  return false;
}

void WriteDoubleClickSettings() {
  static const struct {
    const char* name;
    int value;
  } kValues[] = {{"DoubleClickHeight", 40}, {"DoubleClickWidth", 40}, {"DoubleClickSpeed", 480}};
  for (const auto& v : kValues) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kMouseKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      continue;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d", v.value);
    SetString(key, v.name, text);
    RegCloseKey(key);
  }
}
