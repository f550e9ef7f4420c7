#include "platform/IniFile.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace platform {
namespace {

const char* kBlanks = " \t";

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(kBlanks);
  if (b == std::string::npos) return std::string();
  const auto e = s.find_last_not_of(kBlanks);
  return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

struct Line {
  std::string text;    // without its line end
  std::string ending;  // as the file had it ("\r\n" or "\n"); empty: the file's own
};

// The file as lines, and the line end it uses ("\r\n" unless it uses "\n").
bool ReadLines(const std::string& path, std::vector<Line>& lines, std::string& eol,
               bool& endsWithEol) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string all = ss.str();
  const auto firstLf = all.find('\n');
  eol =
      (firstLf != std::string::npos && (firstLf == 0 || all[firstLf - 1] != '\r')) ? "\n" : "\r\n";
  endsWithEol = all.empty() || all.back() == '\n';
  std::size_t start = 0;
  while (start < all.size()) {
    auto end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string text = all.substr(start, end - start);
    // A last line without its '\n' gets the file's line end when written.
    std::string ending = end < all.size() ? "\n" : "";
    if (!text.empty() && text.back() == '\r') {
      text.pop_back();
      if (!ending.empty()) ending = "\r\n";
    }
    lines.push_back({text, ending});
    start = end + 1;
  }
  return true;
}

// "[name]" -> name; false for any other line.
bool SectionName(const std::string& line, std::string& name) {
  const std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  const auto close = t.find(']');
  name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// "key = value" -> key, value; false for lines without '=' or comments.
bool KeyValue(const std::string& line, std::string& key, std::string& value) {
  const std::string t = Trim(line);
  if (t.empty() || t[0] == ';') return false;
  const auto eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return true;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def, std::size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  std::vector<Line> lines;
  std::string eol;
  bool endsWithEol = true;
  std::string result = def;
  if (ReadLines(path, lines, eol, endsWithEol)) {
    bool inSection = false;
    std::string name, k, v;
    for (const Line& line : lines) {
      if (SectionName(line.text, name)) {
        inSection = SameName(name, section);
      } else if (inSection && KeyValue(line.text, k, v) && SameName(k, key)) {
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
          v = v.substr(1, v.size() - 2);
        }
        result = v;
        break;
      }
    }
  }
  if (result.size() > bufferSize - 1) result.resize(bufferSize - 1);
  return result;
}

bool WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
  std::vector<Line> lines;
  std::string eol = "\r\n";
  bool endsWithEol = true;
  ReadLines(path, lines, eol, endsWithEol);

  // Replace the key in place, or add it after the last key of its section,
  // or add the section at the end.
  const std::string entry = key + "=" + value;
  bool inSection = false, done = false;
  std::size_t insertAt = lines.size(), sectionLine = lines.size();
  std::string name, k, v;
  for (std::size_t i = 0; i < lines.size() && !done; ++i) {
    if (SectionName(lines[i].text, name)) {
      if (inSection) break;
      inSection = SameName(name, section);
      if (inSection) sectionLine = insertAt = i + 1;
    } else if (inSection && KeyValue(lines[i].text, k, v)) {
      if (SameName(k, key)) {
        lines[i].text = entry;
        lines[i].ending.clear();
        done = true;
      } else {
        insertAt = i + 1;
      }
    }
  }
  if (!done) {
    if (sectionLine == lines.size() && !inSection) {
      lines.push_back({"[" + section + "]", ""});
      lines.push_back({entry, ""});
    } else {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), Line{entry, ""});
    }
  }
  std::string out;
  // Untouched lines keep their own line ends, so a stray carriage return
  // stays part of the value it was read with.
  for (const Line& line : lines) {
    std::string ending = line.ending.empty() ? eol : line.ending;
    // A carriage return at the end of a text (the file's last line, read
    // without its '\n') stays its own only in front of "\r\n".
    if (ending == "\n" && !line.text.empty() && line.text.back() == '\r') ending = "\r\n";
    out += line.text + ending;
  }

  // Never leave a half-written file: write a sibling, then rename over.
  std::string temp = path + ".XXXXXX";
  std::vector<char> name_buf(temp.begin(), temp.end());
  name_buf.push_back('\0');
  const int fd = ::mkstemp(name_buf.data());
  if (fd < 0) return false;
  temp.assign(name_buf.data());
  struct stat st;
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, out) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::string ProgramPath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace platform
