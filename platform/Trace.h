#pragma once
// The service's trace: a small log with levels, off unless asked for, for
// a person supporting an installation. It writes one line per event that
// matters (discovery results, open failures, refused writes, XML clients,
// lifecycle transitions); per-report lines only at the debug level. Lines
// are formatted into a stack buffer, so tracing allocates nothing.
//
// Where lines go: standard error natively (as the journal's lines with
// their priorities when standard error is the journal); on Windows the debugger channel
// (OutputDebugString) and, when a file is named, that file too.
//
// Enabled by VANTREL_LOG=error|warn|info|debug (VANTREL_LOG_FILE=path for
// the file) or the program's --log option.
#include <atomic>
#include <cstdarg>
#include <string_view>

namespace trace {

// The levels, F(enumerator, name), least detail first: a level's value
// (0 to 4) is compared with the configured one.
// clang-format off
#define TRACE_LEVEL_LIST(F) \
  F(kOff, "off") F(kError, "error") F(kWarn, "warn") F(kInfo, "info") F(kDebug, "debug")
// clang-format on
#define TRACE_LEVEL_ENUMERATOR(e, name) e,
enum class Level : int { TRACE_LEVEL_LIST(TRACE_LEVEL_ENUMERATOR) };
#undef TRACE_LEVEL_ENUMERATOR

// Receives each finished line (without a line end).
using Sink = void (*)(void* context, Level level, const char* line);

// "error", "warn", "info", "debug" or "off", in any case; false if unknown.
bool ParseLevel(const char* text, Level& level);
const char* LevelName(Level level);

// The process's trace. A test configures it with its own sink and resets it
// afterwards.
class Tracer {
 public:
  bool Enabled(Level level) const {
    return static_cast<int>(level) <= level_.load(std::memory_order_relaxed);
  }
  void Configure(Level level, Sink sink, void* context);
  // The platform's sink (standard error, or the debugger channel and file).
  void ConfigurePlatform(Level level, const char* file = nullptr);
  // From VANTREL_LOG and VANTREL_LOG_FILE; leaves the trace off when unset.
  void ConfigureFromEnvironment();
  void Reset() { Configure(Level::kOff, nullptr, nullptr); }

  void Write(Level level, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  void WriteV(Level level, const char* format, std::va_list args);

 private:
  std::atomic<int> level_{0};
  std::atomic<Sink> sink_{nullptr};
  std::atomic<void*> context_{nullptr};
};

Tracer& Process();

// A value from outside (what a client sent, a setting) made fit for one
// line: control characters and bytes outside printable ASCII as \xNN (a
// backslash as \\), so a value can neither forge a line nor reach a
// terminal as a sequence; a long one is cut with a mark ("...[N more
// bytes]"). On the stack: allocates nothing.
class Escaped {
 public:
  explicit Escaped(std::string_view value);
  const char* c_str() const { return text_; }

 private:
  char text_[160];
};

// Natively, when standard error is the journal's stream (JOURNAL_STREAM
// names its device and inode): the line as the journal takes it, its
// priority as a "<3>" to "<7>" prefix and without the program name and
// time stamp, which the journal keeps itself. Returns the length in `out`.
unsigned JournalLine(Level level, const char* line, char* out, unsigned size);
bool StderrIsJournal();

}  // namespace trace

// The level test first, so that the arguments cost nothing while it is off.
#define VANTREL_TRACE(level, ...)                                                        \
  do {                                                                                   \
    if (::trace::Process().Enabled(level)) ::trace::Process().Write(level, __VA_ARGS__); \
  } while (0)
#define TRACE_ERROR(...) VANTREL_TRACE(::trace::Level::kError, __VA_ARGS__)
#define TRACE_WARN(...) VANTREL_TRACE(::trace::Level::kWarn, __VA_ARGS__)
#define TRACE_INFO(...) VANTREL_TRACE(::trace::Level::kInfo, __VA_ARGS__)
#define TRACE_DEBUG(...) VANTREL_TRACE(::trace::Level::kDebug, __VA_ARGS__)

namespace platform {
// The system's text for an error code: FormatMessage on Windows, strerror
// natively. `code` 0 means the calling thread's last error.
const char* ErrorText(char* buffer, unsigned size, unsigned long code = 0);
// The calling thread's last error code (GetLastError / errno).
unsigned long LastErrorCode();
}  // namespace platform
