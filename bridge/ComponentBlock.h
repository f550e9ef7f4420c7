#pragma once
// One block of exports: its own hold on the driver-API component and the
// addresses of its names in it. A block loads the component at its first
// call; a failed load leaves it unloaded, so the next call tries again.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/ModuleLoader.h"

namespace bridge {

class ComponentBlock {
 public:
  // `names` must outlive the block (the tables are static).
  ComponentBlock(platform::ModuleLoader& loader, const char* libraryName, const char* const* names,
                 std::size_t count);
  ~ComponentBlock();
  ComponentBlock(const ComponentBlock&) = delete;
  ComponentBlock& operator=(const ComponentBlock&) = delete;

  // One call through the block. While it lives the component stays mapped:
  // a release waits for the calls in flight instead of pulling code from
  // under them.
  class Use {
   public:
    Use(Use&& other) noexcept : block_(other.block_), generation_(other.generation_) {
      other.block_ = nullptr;
    }
    Use& operator=(Use&&) = delete;
    ~Use();
    // Null when the block has no component or the component lacks the name.
    void* Address(std::size_t index) const { return block_ ? block_->addresses_[index] : nullptr; }
    std::uint32_t Generation() const { return generation_; }

   private:
    friend class ComponentBlock;
    Use(ComponentBlock* block, std::uint32_t generation) : block_(block), generation_(generation) {}
    ComponentBlock* block_;  // null: not loaded
    std::uint32_t generation_;
  };

  // The load check: loads the component and looks up every name of the block
  // unless it is loaded already. Concurrent first calls load it once.
  Use Acquire();

  // Gives the block's hold back to the platform once the calls in flight
  // have returned, if the load that `generation` names is still the block's
  // (a second release of the same load, or one racing a reload, does
  // nothing). Returns whether it freed.
  bool Release(std::uint32_t generation);

  bool Loaded() const;

 private:
  void LoadLocked();
  void EndUse();

  platform::ModuleLoader& loader_;
  const char* libraryName_;
  const char* const* names_;
  // Written only while no loaded Use exists (at load, or at release after the
  // calls in flight have ended); read by the Uses without the lock.
  std::vector<void*> addresses_;

  // Guards the module, the load generation, the calls in flight and a
  // pending release.
  mutable std::mutex mutex_;
  std::condition_variable idle_;  // no call in flight, or no release pending
  void* module_ = nullptr;
  std::uint32_t generation_ = 0;  // counts the block's loads
  int inFlight_ = 0;
  bool releasing_ = false;  // new calls wait, so a release is never starved
};

}  // namespace bridge
