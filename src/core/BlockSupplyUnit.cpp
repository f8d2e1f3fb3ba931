#include "BlockSupplyUnit.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace ornavel {
namespace {

#ifdef MADV_POPULATE_WRITE
constexpr int PopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int PopulateWrite = 23; // from Linux 5.14; older systems refuse it
#endif

std::size_t PageSize() {
  static const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

// Advice for the whole pages between from and to: the pages at the ends may hold other data.
void AdviseWholePages(char* from, char* to, int advice) {
  const std::uintptr_t mask = PageSize() - 1;
  const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(from) + mask) & ~mask;
  const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(to) & ~mask;
  if (first < end)
    madvise(reinterpret_cast<void*>(first), end - first, advice);
}

} // namespace

TBlockSupply::TBlockSupply(std::vector<std::size_t> sizes, std::size_t ahead) : FAhead(ahead) {
  for (std::size_t size : sizes)
    FShelves.push_back({size, false, {}});
}

std::unique_ptr<char[]> TBlockSupply::Take(std::size_t size) {
  std::unique_ptr<char[]> block;
  bool wake = false;
  {
    const std::lock_guard lock(FLock);
    if (TShelf* shelf = ShelfFor(size)) {
      shelf->Wanted = true;
      if (!shelf->Ready.empty()) {
        block = std::move(shelf->Ready.back());
        shelf->Ready.pop_back();
      }
      wake = shelf->Ready.size() <= FAhead / 2;
      if (wake)
        StartRefilling();
    }
  }
  if (wake)
    FWake.notify_one();
  return block ? std::move(block) : std::make_unique_for_overwrite<char[]>(size);
}

std::size_t TBlockSupply::ReadyCount(std::size_t size) const {
  const std::lock_guard lock(FLock);
  const auto shelf = std::ranges::find(FShelves, size, &TShelf::Size);
  return shelf == FShelves.end() ? 0 : shelf->Ready.size();
}

TBlockSupply::TShelf* TBlockSupply::ShelfFor(std::size_t size) {
  const auto shelf = std::ranges::find(FShelves, size, &TShelf::Size);
  return shelf == FShelves.end() ? nullptr : &*shelf;
}

bool TBlockSupply::Low() const {
  return std::ranges::any_of(FShelves, [this](const TShelf& shelf) {
    return shelf.Wanted && shelf.Ready.size() <= FAhead / 2;
  });
}

// Without a thread the taker simply gets fresh blocks, as it would without the supply.
void TBlockSupply::StartRefilling() {
  if (FThreadTried)
    return;
  FThreadTried = true;
  try {
    FThread.Start([this] { Refill(); },
                  [this] {
                    const std::lock_guard lock(FLock);
                    FWake.notify_one();
                  });
  } catch (const std::system_error&) {
  }
}

void TBlockSupply::Refill() {
  std::unique_lock lock(FLock);
  try {
    for (;;) {
      FWake.wait(lock, [this] { return FThread.StopRequested() || Low(); });
      for (TShelf& shelf : FShelves) {
        while (!FThread.StopRequested() && shelf.Wanted && shelf.Ready.size() < FAhead) {
          lock.unlock();
          std::unique_ptr<char[]> block = ReadyBlock(shelf.Size);
          lock.lock();
          shelf.Ready.push_back(std::move(block));
        }
      }
      if (FThread.StopRequested())
        return;
    }
  } catch (const std::bad_alloc&) {
    // Out of memory the taker fails on its own fresh block; this thread simply stops helping.
  }
}

void TBlockSupply::GiveBack(char* from, char* to) {
  AdviseWholePages(from, to, MADV_DONTNEED);
}

// Writing a byte to every page makes the system give the block its memory now; asking for all
// pages at once first saves most of the faults where the system can.
std::unique_ptr<char[]> TBlockSupply::ReadyBlock(std::size_t size) {
  auto block = std::make_unique_for_overwrite<char[]>(size);
  AdviseWholePages(block.get(), block.get() + size, PopulateWrite);
  for (std::size_t offset = 0; offset < size; offset += PageSize())
    block[offset] = 0;
  block[size - 1] = 0;
  return block;
}

} // namespace ornavel
