// Natively the trace goes to standard error (and to a file when one is
// named), one write per line so lines from threads never interleave.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/Trace.h"

namespace trace {

namespace {

struct FileSink {
  std::mutex mutex;  // guards the file: its opening and one line at a time
  std::FILE* file = nullptr;
  std::atomic<bool> journal{false};  // standard error is the journal (decided at configuration)
};

void StderrSink(void*, Level, const char* line) {
  char buffer[520];
  const int n = std::snprintf(buffer, sizeof buffer, "%s\n", line);
  if (n <= 0) return;
  const std::size_t length = std::strlen(buffer);
  (void)!::write(STDERR_FILENO, buffer, length);
}

void JournalSink(void*, Level level, const char* line) {
  char buffer[520];
  const unsigned length = JournalLine(level, line, buffer, sizeof buffer - 1);
  buffer[length] = '\n';
  (void)!::write(STDERR_FILENO, buffer, length + 1);
}

void StderrAndFileSink(void* context, Level level, const char* line) {
  auto* sink = static_cast<FileSink*>(context);
  (sink->journal ? JournalSink : StderrSink)(context, level, line);
  std::lock_guard<std::mutex> lock(sink->mutex);
  std::fprintf(sink->file, "%s\n", line);
  std::fflush(sink->file);
}

}  // namespace

void Tracer::ConfigurePlatform(Level level, const char* file) {
  static FileSink fileSink;  // lives as long as the process may trace
  if (file && *file) {
    std::lock_guard<std::mutex> lock(fileSink.mutex);
    if (!fileSink.file) fileSink.file = std::fopen(file, "a");
    fileSink.journal = StderrIsJournal();
    if (fileSink.file) {
      Configure(level, &StderrAndFileSink, &fileSink);
      return;
    }
  }
  Configure(level, StderrIsJournal() ? &JournalSink : &StderrSink, nullptr);
}

bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream) return false;
  unsigned long long device = 0, inode = 0;
  char end = 0;
  if (std::sscanf(stream, "%llu:%llu%c", &device, &inode, &end) != 2) return false;
  // The variable is inherited: it counts only while standard error is
  // still the stream it names, not after a redirection.
  struct stat st {};
  if (::fstat(STDERR_FILENO, &st) != 0) return false;
  return st.st_dev == device && st.st_ino == inode;
}

unsigned JournalLine(Level level, const char* line, char* out, unsigned size) {
  if (size == 0) return 0;
  static const char kPriority[] = {'7', '3', '4', '6', '7'};  // by Level
  const int index = static_cast<int>(level);
  const char priority = index >= 0 && index < 5 ? kPriority[index] : '6';
  // "vantrel 12.345 info: text" -> "<6>info: text"
  const char* text = line;
  if (std::strncmp(text, "vantrel ", 8) == 0) {
    const char* afterStamp = std::strchr(text + 8, ' ');
    if (afterStamp) text = afterStamp + 1;
  }
  const int n = std::snprintf(out, size, "<%c>%s", priority, text);
  if (n < 0) return 0;
  return static_cast<unsigned>(n) < size ? static_cast<unsigned>(n) : size - 1;
}

}  // namespace trace

namespace platform {

const char* ErrorText(char* buffer, unsigned size, unsigned long code) {
  const int error = code ? static_cast<int>(code) : errno;
  // The GNU strerror_r may return a static string instead of filling ours.
  const char* text = strerror_r(error, buffer, size);
  if (text != buffer) std::snprintf(buffer, size, "%s", text);
  return buffer;
}

unsigned long LastErrorCode() {
  return static_cast<unsigned long>(errno);
}

}  // namespace platform
