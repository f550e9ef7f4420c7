// On Windows the trace goes to the debugger channel (OutputDebugStringA,
// seen by a debugger or a debug-output viewer) and, when a file is named,
// to that file, one write per line.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/Trace.h"

namespace trace {

namespace {

struct FileSink {
  std::mutex mutex;  // guards the file: its opening and one line at a time
  HANDLE file = INVALID_HANDLE_VALUE;
};

void DebuggerSink(void*, Level, const char* line) {
  char buffer[520];
  std::snprintf(buffer, sizeof buffer, "%s\n", line);
  OutputDebugStringA(buffer);
}

void DebuggerAndFileSink(void* context, Level level, const char* line) {
  DebuggerSink(context, level, line);
  auto* sink = static_cast<FileSink*>(context);
  char buffer[520];
  const int n = std::snprintf(buffer, sizeof buffer, "%s\r\n", line);
  if (n <= 0) return;
  DWORD written = 0;
  std::lock_guard<std::mutex> lock(sink->mutex);
  WriteFile(sink->file, buffer, static_cast<DWORD>(std::strlen(buffer)), &written, nullptr);
}

}  // namespace

void Tracer::ConfigurePlatform(Level level, const char* file) {
  static FileSink fileSink;  // lives as long as the process may trace
  if (file && *file) {
    std::lock_guard<std::mutex> lock(fileSink.mutex);
    if (fileSink.file == INVALID_HANDLE_VALUE) {
      fileSink.file = CreateFileA(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (fileSink.file != INVALID_HANDLE_VALUE) {
      Configure(level, &DebuggerAndFileSink, &fileSink);
      return;
    }
  }
  Configure(level, &DebuggerSink, nullptr);
}

}  // namespace trace

namespace platform {

const char* ErrorText(char* buffer, unsigned size, unsigned long code) {
  const DWORD error = code ? static_cast<DWORD>(code) : GetLastError();
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, buffer, size, nullptr);
  // The system's text ends with a line break; the trace adds its own.
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == ' ')) {
    buffer[--n] = '\0';
  }
  if (n == 0) std::snprintf(buffer, size, "error %lu", static_cast<unsigned long>(error));
  return buffer;
}

unsigned long LastErrorCode() {
  return GetLastError();
}

}  // namespace platform
