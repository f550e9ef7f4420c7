#include "tests/support/BridgeTestSupport.h"

#include <cstring>

#include "bridge/DriverApiBridge.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace bridge_test {

const char* const kComponent = bridge::kDriverApiLibrary;
#if defined(_WIN32)
const char* const kAbsent = "SorbaneAbsent.dll";
#else
const char* const kAbsent = "libSorbaneAbsent.so";
#endif

void* CountingLoader::Load(const char* name) {
  void* module = platform::SystemModuleLoader().Load(name);
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_.loads;
  if (module) ++counts_.loaded;
  return module;
}

void* CountingLoader::Symbol(void* module, const char* name) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.lookups;
  }
  return platform::SystemModuleLoader().Symbol(module, name);
}

void CountingLoader::Free(void* module) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.frees;
  }
  platform::SystemModuleLoader().Free(module);
}

CountingLoader::Counts CountingLoader::counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

bool ComponentMapped() {
#if defined(_WIN32)
  return GetModuleHandleA(kComponent) != nullptr;
#else
  // RTLD_NOLOAD finds only what is loaded, but counts a hold: give it back.
  void* module = dlopen(kComponent, RTLD_NOW | RTLD_NOLOAD);
  if (module) dlclose(module);
  return module != nullptr;
#endif
}

std::string Log(const void* context) {
  const char* text = static_cast<const char*>(context);
  return std::string(text, strnlen(text, 1024));
}

}  // namespace bridge_test
