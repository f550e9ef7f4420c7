#pragma once
// Plain INI files ("[section]" headers, "key=value" lines), read and written
// at each use. Windows: the system's private-profile functions. Elsewhere: a
// reader/writer of the same format that leaves other sections and keys as
// they were and replaces the file atomically.
#include <cstddef>
#include <string>

namespace platform {

// The value of key in section, or def when the file, section or key is
// missing. At most bufferSize - 1 characters are returned, as a caller's
// buffer of bufferSize bytes would hold. Section and key names are matched
// without regard to case; surrounding blanks and one pair of quotes are
// removed from the value.
std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def, std::size_t bufferSize);

// Sets key in section, creating the file, section or key as needed.
// Returns false when the file cannot be written.
bool WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);

// Full path of the running program (at most 260 characters on Windows).
std::string ProgramPath();

}  // namespace platform
