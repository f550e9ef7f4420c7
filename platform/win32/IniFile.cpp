#include "platform/IniFile.h"

#include <windows.h>

#include <vector>

namespace platform {

std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def, std::size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  std::vector<char> buffer(bufferSize, '\0');
  const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buffer.data(),
                                           static_cast<DWORD>(bufferSize), path.c_str());
  return std::string(buffer.data(), n);
}

bool WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) !=
         FALSE;
}

std::string ProgramPath() {
  char buffer[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::string(buffer, n < MAX_PATH ? n : MAX_PATH);
}

}  // namespace platform
