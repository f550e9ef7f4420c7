// Natively the trace goes to standard error (and to a file when one is
// named), one write per line so lines from threads never interleave.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/Trace.h"

namespace trace {

namespace {

struct FileSink {
  std::mutex mutex;  // guards the file: its opening and one line at a time
  std::FILE* file = nullptr;
};

void StderrSink(void*, Level, const char* line) {
  char buffer[520];
  const int n = std::snprintf(buffer, sizeof buffer, "%s\n", line);
  if (n <= 0) return;
  const std::size_t length = std::strlen(buffer);
  (void)!::write(STDERR_FILENO, buffer, length);
}

void StderrAndFileSink(void* context, Level level, const char* line) {
  StderrSink(context, level, line);
  auto* sink = static_cast<FileSink*>(context);
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
    if (fileSink.file) {
      Configure(level, &StderrAndFileSink, &fileSink);
      return;
    }
  }
  Configure(level, &StderrSink, nullptr);
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
