// The loader's blocks over the real OS loader (counted on the way): when
// they load, look up and release the component, also under threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "bridge/DriverApiBridge.h"
#include "bridge/DriverApiSession.h"
#include "tests/support/BridgeTestSupport.h"

namespace {

using bridge::DriverApiBridge;
using bridge_test::CountingLoader;
using bridge_test::kAbsent;
using bridge_test::kComponent;

TEST(BridgeLoading, EachBlockLoadsTheComponentOnceByItself) {
  CountingLoader loader;
  DriverApiBridge b(loader, kComponent);
  EXPECT_EQ(b.GetTouchDevCount(), 2);
  EXPECT_EQ(loader.loaded(), 1);
  EXPECT_EQ(loader.lookups(), 17);  // every name of block 2
  EXPECT_TRUE(b.Loaded(2));
  EXPECT_FALSE(b.Loaded(1));
  EXPECT_FALSE(b.Loaded(3));

  EXPECT_EQ(b.EnableSmooth(nullptr), 1);
  EXPECT_EQ(b.TestGetTotal(nullptr), 0xA5);
  EXPECT_EQ(loader.loaded(), 3);
  EXPECT_EQ(loader.lookups(), 17 + 43 + 18);

  EXPECT_EQ(b.GetTouchDevCount(), 2);
  EXPECT_EQ(b.EnableSmooth(nullptr), 1);
  EXPECT_EQ(b.GetInputReportBufferLength(nullptr), 0x8040);
  EXPECT_EQ(loader.loads(), 3);
}

TEST(BridgeLoading, WithoutTheLibraryEveryCallTriesAgain) {
  CountingLoader loader;
  DriverApiBridge b(loader, kAbsent);
  EXPECT_EQ(b.GetTouchDevCount(), -1);
  EXPECT_EQ(b.GetTouchDevCount(), -1);
  EXPECT_EQ(b.ExitTouch(), -1);
  b.HWReset(nullptr);
  EXPECT_EQ(loader.loads(), 4);
  EXPECT_EQ(loader.loaded() + loader.lookups() + loader.frees(), 0);
  for (int block = 1; block <= 3; ++block) EXPECT_FALSE(b.Loaded(block));
}

TEST(BridgeLoading, ExitTouchReleasesBlock2AndTheNextCallLoadsAgain) {
  CountingLoader loader;
  std::vector<unsigned char> context(bridge::kDriverApiContextSize);
  {
    DriverApiBridge b(loader, kComponent);
    ASSERT_EQ(b.EnableSmooth(nullptr), 1);
    ASSERT_EQ(b.InitTouch(context.data(), 0, 0, 0, nullptr), 1);
    EXPECT_EQ(b.ExitTouch(), 1);
    EXPECT_EQ(loader.frees(), 1);
    EXPECT_FALSE(b.Loaded(2));
    EXPECT_TRUE(b.Loaded(1));

    EXPECT_EQ(b.GetTouchDevCount(), 2);
    EXPECT_EQ(loader.loaded(), 3);
    EXPECT_EQ(b.ExitTouch(), 0);  // not initialised: the component stays
    EXPECT_EQ(loader.frees(), 1);
    EXPECT_TRUE(b.Loaded(2));
  }
  // A bridge that ends gives its holds back.
  EXPECT_EQ(loader.frees(), loader.loaded());
}

// Concurrent first calls of one block load the component once.
TEST(BridgeThreads, ConcurrentFirstCallsLoadEachBlockOnce) {
  CountingLoader loader;
  DriverApiBridge b(loader, kComponent);
  std::atomic<bool> go{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      if (b.GetTouchDevCount() != 2) ++wrong;
      if (b.EnableSmooth(nullptr) != 1) ++wrong;
      if (b.TestGetTotal(nullptr) != 0xA5) ++wrong;
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(loader.loads(), 3);
  EXPECT_EQ(loader.lookups(), 78);
}

// Calls of block 2 racing ExitTouch's release always reach a loaded
// component: never a failure value, never freed code.
TEST(BridgeThreads, CallsRacingTheReleaseNeverFail) {
  CountingLoader loader;
  std::vector<unsigned char> context(bridge::kDriverApiContextSize);
  std::atomic<int> wrong{0};
  {
    DriverApiBridge b(loader, kComponent);
    std::atomic<bool> done{false};
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i) {
      callers.emplace_back([&] {
        while (!done.load()) {
          if (b.GetTouchDevCount() != 2) ++wrong;
          if (b.EnableTouch(nullptr) != 1) ++wrong;
        }
      });
    }
    for (int i = 0; i < 100; ++i) {
      if (b.InitTouch(context.data(), 0, 0, 0, nullptr) != 1) ++wrong;
      if (b.ExitTouch() != 1) ++wrong;
    }
    done = true;
    for (auto& t : callers) t.join();
  }
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GE(loader.frees(), 100);
  EXPECT_EQ(loader.frees(), loader.loaded());
}

}  // namespace
