#include "bridge/ComponentBlock.h"

namespace bridge {

// A plain mutex and a count of calls in flight rather than std::shared_mutex:
// the i686 mingw-w64 runtime's reader-writer lock lets several writers in at
// once when its first uses are concurrent.

ComponentBlock::ComponentBlock(platform::ModuleLoader& loader, const char* libraryName,
                               const char* const* names, std::size_t count)
    : loader_(loader), libraryName_(libraryName), names_(names), addresses_(count, nullptr) {}

// The process's blocks are never destroyed (blocks 1 and 3 keep their hold
// for the whole run); a block made for a shorter life gives its hold back.
ComponentBlock::~ComponentBlock() {
  if (module_) loader_.Free(module_);
}

ComponentBlock::Use::~Use() {
  if (block_) block_->EndUse();
}

ComponentBlock::Use ComponentBlock::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return !releasing_; });
  LoadLocked();
  if (!module_) return Use(nullptr, 0);
  ++inFlight_;
  return Use(this, generation_);
}

void ComponentBlock::EndUse() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--inFlight_ == 0) idle_.notify_all();
}

void ComponentBlock::LoadLocked() {
  if (module_) return;
  void* module = loader_.Load(libraryName_);
  if (!module) return;
  for (std::size_t i = 0; i < addresses_.size(); ++i) {
    addresses_[i] = loader_.Symbol(module, names_[i]);
  }
  module_ = module;
  ++generation_;
}

bool ComponentBlock::Release(std::uint32_t generation) {
  void* module;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !releasing_; });
    if (!module_ || generation != generation_) return false;
    releasing_ = true;
    idle_.wait(lock, [this] { return inFlight_ == 0; });
    module = module_;
    module_ = nullptr;
    for (void*& address : addresses_) address = nullptr;
    releasing_ = false;
    idle_.notify_all();
  }
  // Outside the lock: the platform runs the component's unload code, which
  // must not find this block locked.
  loader_.Free(module);
  return true;
}

bool ComponentBlock::Loaded() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return module_ != nullptr;
}

}  // namespace bridge
