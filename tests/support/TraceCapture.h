#pragma once
// The trace's lines, captured for one test: the process's trace goes to
// this object while it lives and is switched off afterwards.
#include <mutex>
#include <string>

#include "platform/Trace.h"

namespace testsupport {

struct TraceCapture {
  std::mutex mutex;
  std::string text;
  explicit TraceCapture(trace::Level level) { trace::Process().Configure(level, &Add, this); }
  ~TraceCapture() { trace::Process().Reset(); }
  static void Add(void* self, trace::Level, const char* line) {
    auto* c = static_cast<TraceCapture*>(self);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->text += std::string(line) + "\n";
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    text.clear();
  }
  bool Has(const char* part) {
    std::lock_guard<std::mutex> lock(mutex);
    return text.find(part) != std::string::npos;
  }
  // Lines that hold `part`.
  int Count(const char* part) {
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++n;
    return n;
  }
};

}  // namespace testsupport
