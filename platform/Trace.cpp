#include "platform/Trace.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Clock.h"

namespace trace {

namespace {

#define TRACE_LEVEL_NAME(e, name) name,
const char* const kNames[] = {TRACE_LEVEL_LIST(TRACE_LEVEL_NAME)};
#undef TRACE_LEVEL_NAME
static_assert(static_cast<int>(sizeof kNames / sizeof kNames[0]) ==
                  static_cast<int>(Level::kDebug) + 1,
              "debug is the last level");

bool SameIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != *b) return false;
  }
  return *a == *b;
}

}  // namespace

bool ParseLevel(const char* text, Level& level) {
  if (!text) return false;
  for (int i = 0; i <= static_cast<int>(Level::kDebug); ++i) {
    if (SameIgnoringCase(text, kNames[i])) {
      level = static_cast<Level>(i);
      return true;
    }
  }
  return false;
}

const char* LevelName(Level level) {
  const int i = static_cast<int>(level);
  return i >= 0 && i <= static_cast<int>(Level::kDebug) ? kNames[i] : "?";
}

void Tracer::Configure(Level level, Sink sink, void* context) {
  // Off first, so a line never reaches a half-configured sink.
  level_.store(0);
  sink_.store(sink);
  context_.store(context);
  if (sink) level_.store(static_cast<int>(level));
}

void Tracer::ConfigureFromEnvironment() {
  Level level;
  if (ParseLevel(std::getenv("VANTREL_LOG"), level)) {
    ConfigurePlatform(level, std::getenv("VANTREL_LOG_FILE"));
  }
}

void Tracer::Write(Level level, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  WriteV(level, format, args);
  va_end(args);
}

void Tracer::WriteV(Level level, const char* format, std::va_list args) {
  if (!Enabled(level)) return;
  const Sink sink = sink_.load();
  if (!sink) return;
  char line[512];
  const std::uint32_t ms = platform::TickCount();
  int n = std::snprintf(line, sizeof line, "vantrel %u.%03u %s: ", ms / 1000, ms % 1000,
                        LevelName(level));
  if (n < 0) return;
  std::vsnprintf(line + n, sizeof line - static_cast<unsigned>(n), format, args);
  // The last guard for every sink: whatever slipped into the text unescaped
  // (a line end in a system message) cannot split the line or steer a
  // terminal.
  for (char* c = line + n; *c; ++c)
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) *c = '?';
  sink(context_.load(), level, line);
}

Escaped::Escaped(std::string_view value) {
  static const char kHex[] = "0123456789abcdef";
  constexpr std::size_t kMark = 40;  // room for the mark with any count
  std::size_t at = 0, i = 0;
  for (; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const bool plain = c >= 0x20 && c < 0x7F && c != '\\';
    const std::size_t width = plain ? 1 : (c == '\\' ? 2 : 4);
    if (at + width + kMark + 1 > sizeof text_ && i + 1 < value.size()) break;
    if (at + width + 1 > sizeof text_) break;
    if (plain) {
      text_[at++] = static_cast<char>(c);
    } else if (c == '\\') {
      text_[at++] = '\\';
      text_[at++] = '\\';
    } else {
      text_[at++] = '\\';
      text_[at++] = 'x';
      text_[at++] = kHex[c >> 4];
      text_[at++] = kHex[c & 15];
    }
  }
  if (i < value.size())
    std::snprintf(text_ + at, sizeof text_ - at, "...[%zu more bytes]", value.size() - i);
  else
    text_[at] = '\0';
}

Tracer& Process() {
  static Tracer tracer;
  return tracer;
}

}  // namespace trace
