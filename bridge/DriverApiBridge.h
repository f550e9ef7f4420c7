#pragma once
// The loader behind the exports: three blocks that load the driver-API
// component independently, and one member per exported function that runs
// its block's load check and forwards arguments and result unchanged.
//
// The exports use the process's bridge; tests build their own over any
// loader and library name.
#include <cstddef>

#include "bridge/ComponentBlock.h"
#include "bridge/DriverApiTable.h"
#include "platform/ModuleLoader.h"

namespace bridge {

// The component's file name as the platform loads it.
#if defined(_WIN32)
constexpr const char kDriverApiLibrary[] = "Sorbane.dll";
#else
constexpr const char kDriverApiLibrary[] = "libSorbane.so";
#endif

class DriverApiBridge {
 public:
  DriverApiBridge(platform::ModuleLoader& loader, const char* libraryName);

#define DRIVER_API_MEMBER(result, name, failure, params, args) result name params;
  DRIVER_API_BLOCK1(DRIVER_API_MEMBER)
  DRIVER_API_BLOCK2(DRIVER_API_MEMBER, DRIVER_API_MEMBER)
  DRIVER_API_BLOCK3(DRIVER_API_MEMBER)
#undef DRIVER_API_MEMBER

  // Whether block 1, 2 or 3 holds the component now.
  bool Loaded(int block) const {
    return blocks_[block - 1].Loaded();
  }

 private:
  ComponentBlock blocks_[3];
};

// The bridge of this process, for the exports and the service's own calls.
// It is never destroyed: blocks 1 and 3 keep their hold until the process
// ends, and exports stay callable while other modules shut down.
DriverApiBridge& ProcessBridge();

}  // namespace bridge
