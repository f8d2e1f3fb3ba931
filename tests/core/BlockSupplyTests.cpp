#include "core/BlockSupplyUnit.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

constexpr std::size_t BlockSize = 64 * 1024;
constexpr std::size_t Ahead = 4;

// How many of the pages the bytes lie in are in memory, and of how many.
std::pair<std::size_t, std::size_t> ResidentPages(const char* bytes, std::size_t size) {
  const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(bytes) & ~(pageSize - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(bytes) + size;
  std::vector<unsigned char> pages((end - start + pageSize - 1) / pageSize);
  if (mincore(reinterpret_cast<void*>(start), end - start, pages.data()) != 0)
    return {0, 0};
  return {static_cast<std::size_t>(
              std::ranges::count_if(pages, [](unsigned char page) { return (page & 1) != 0; })),
          pages.size()};
}

bool WaitUntilReady(const TBlockSupply& supply, std::size_t count) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (supply.ReadyCount(BlockSize) < count) {
    if (std::chrono::steady_clock::now() > giveUp)
      return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(BlockSupply, MakesBlocksOfATakenSizeReadyAheadWithTheirPagesInMemoryAndTakesSpareOnesBack) {
  TBlockSupply supply({BlockSize}, Ahead);
  EXPECT_EQ(supply.ReadyCount(BlockSize), 0u); // nothing is made before a size is wanted
  const auto fresh = supply.Take(BlockSize);
  std::memset(fresh.get(), 1, BlockSize);
  ASSERT_TRUE(WaitUntilReady(supply, Ahead));
  const auto ready = supply.Take(BlockSize);
  const auto [resident, pages] = ResidentPages(ready.get(), BlockSize);
  EXPECT_EQ(resident, pages);
  std::memset(ready.get(), 2, BlockSize);

  // A block longer than needed gives the pages of its spare end back.
  TBlockSupply::GiveBack(ready.get() + 100, ready.get() + BlockSize);
  const auto pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t spare =
      (reinterpret_cast<std::uintptr_t>(ready.get()) + 100 + pageSize - 1) / pageSize * pageSize -
      reinterpret_cast<std::uintptr_t>(ready.get());
  EXPECT_EQ(ResidentPages(ready.get() + spare, BlockSize - spare - pageSize).first, 0u);
  EXPECT_EQ(ready[99], 2);

  const auto other = supply.Take(1000); // a size without a shelf is simply allocated
  std::memset(other.get(), 3, 1000);
  EXPECT_EQ(supply.ReadyCount(1000), 0u);
}

// Takers on several threads while the supply refills, and the supply ending while it does.
TEST(BlockSupply, ServesTakersOnSeveralThreadsAndEndsWhileRefilling) {
  auto supply = std::make_unique<TBlockSupply>(std::vector<std::size_t>{BlockSize}, Ahead);
  std::vector<std::thread> takers;
  for (int taker = 0; taker < 2; ++taker) {
    takers.emplace_back([&supply, taker] {
      for (int i = 0; i < 200; ++i) {
        const auto block = supply->Take(BlockSize);
        std::memset(block.get(), taker, BlockSize);
      }
    });
  }
  for (std::thread& taker : takers)
    taker.join();
  supply->Take(BlockSize);
  supply.reset();
}

} // namespace
} // namespace ornavel
