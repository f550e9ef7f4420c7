#include "bridge/DriverApiBridge.h"

#include <cstdint>
#include <iterator>

namespace bridge {
namespace {

#define DRIVER_API_NAME(result, name, failure, params, args) #name,
constexpr const char* kBlock1Names[] = {DRIVER_API_BLOCK1(DRIVER_API_NAME)};
constexpr const char* kBlock2Names[] = {DRIVER_API_BLOCK2(DRIVER_API_NAME, DRIVER_API_NAME)};
constexpr const char* kBlock3Names[] = {DRIVER_API_BLOCK3(DRIVER_API_NAME)};
#undef DRIVER_API_NAME

static_assert(std::size(kBlock1Names) == 43, "block 1 holds 43 functions");
static_assert(std::size(kBlock2Names) == 17, "block 2 holds 17 functions");
static_assert(std::size(kBlock3Names) == 18, "block 3 holds 18 functions");

// Each name's slot in its block's address table.
#define DRIVER_API_SLOT(result, name, failure, params, args) name,
namespace block1 {
enum : std::size_t { DRIVER_API_BLOCK1(DRIVER_API_SLOT) };
}
namespace block2 {
enum : std::size_t { DRIVER_API_BLOCK2(DRIVER_API_SLOT, DRIVER_API_SLOT) };
}
namespace block3 {
enum : std::size_t { DRIVER_API_BLOCK3(DRIVER_API_SLOT) };
}
#undef DRIVER_API_SLOT

}  // namespace

DriverApiBridge::DriverApiBridge(platform::ModuleLoader& loader, const char* libraryName)
    : blocks_{{loader, libraryName, kBlock1Names, std::size(kBlock1Names)},
              {loader, libraryName, kBlock2Names, std::size(kBlock2Names)},
              {loader, libraryName, kBlock3Names, std::size(kBlock3Names)}} {}

// The block's hold lasts until the call returns. `return f args;` also
// forwards a void result; an empty failure value makes `return;`.
#define DRIVER_API_FORWARD(number, result, name, failure, params, args)        \
  result DriverApiBridge::name params {                                        \
    ComponentBlock::Use use = blocks_[number - 1].Acquire();                   \
    using Function = result(DRIVER_API_CALL*) params;                          \
    Function f = reinterpret_cast<Function>(use.Address(block##number::name)); \
    if (!f) return failure;                                                    \
    return f args;                                                             \
  }
#define DRIVER_API_FORWARD_1(...) DRIVER_API_FORWARD(1, __VA_ARGS__)
#define DRIVER_API_FORWARD_2(...) DRIVER_API_FORWARD(2, __VA_ARGS__)
#define DRIVER_API_FORWARD_3(...) DRIVER_API_FORWARD(3, __VA_ARGS__)
#define DRIVER_API_SKIP(...)
DRIVER_API_BLOCK1(DRIVER_API_FORWARD_1)
DRIVER_API_BLOCK2(DRIVER_API_FORWARD_2, DRIVER_API_SKIP)
DRIVER_API_BLOCK3(DRIVER_API_FORWARD_3)

// The component answers ExitTouch in 8 bits; 1 means it has shut down, and
// then block 2 lets go of it (blocks 1 and 3 never do). The next block-2
// call loads it again.
std::int32_t DriverApiBridge::ExitTouch() {
  std::int8_t result;
  std::uint32_t generation;
  {
    ComponentBlock::Use use = blocks_[1].Acquire();
    using Function = std::int8_t(DRIVER_API_CALL*)();
    Function f = reinterpret_cast<Function>(use.Address(block2::ExitTouch));
    if (!f) return -1;
    result = f();
    generation = use.Generation();
  }
  // Outside the hold: the release waits for other calls still in the component.
  if (result == 1) blocks_[1].Release(generation);
  return result;
}

DriverApiBridge& ProcessBridge() {
  static DriverApiBridge* bridge =
      new DriverApiBridge(platform::SystemModuleLoader(), kDriverApiLibrary);
  return *bridge;
}

}  // namespace bridge
