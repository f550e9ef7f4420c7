#pragma once
// What the bridge's tests share: a loader that counts what it passes on to
// the operating system's loader, and a look at whether the test component is
// mapped into the process.
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ModuleLoader.h"

namespace bridge_test {

class CountingLoader final : public platform::ModuleLoader {
 public:
  void* Load(const char* name) override;
  void* Symbol(void* module, const char* name) override;
  void Free(void* module) override;

  struct Counts {
    int loads = 0;   // attempts, found or not
    int loaded = 0;  // attempts that found the library
    int frees = 0;
    int lookups = 0;
  };
  Counts counts() const;
  int loads() const { return counts().loads; }
  int loaded() const { return counts().loaded; }
  int frees() const { return counts().frees; }
  int lookups() const { return counts().lookups; }

 private:
  mutable std::mutex mutex_;
  Counts counts_;
};

// The test component's file name, and a name no library has.
extern const char* const kComponent;
extern const char* const kAbsent;

// Whether the test component is in the process now (asks the OS without
// taking a hold of its own).
bool ComponentMapped();

// The component's trace log at the start of a context.
std::string Log(const void* context);

}  // namespace bridge_test
