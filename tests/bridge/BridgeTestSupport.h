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

  int loads() const;   // attempts, found or not
  int loaded() const;  // attempts that found the library
  int frees() const;
  int lookups() const;

 private:
  mutable std::mutex mutex_;
  int loads_ = 0, loaded_ = 0, frees_ = 0, lookups_ = 0;
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
