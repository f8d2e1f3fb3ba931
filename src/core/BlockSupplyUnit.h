#pragma once

#include "ServiceThreadUnit.h"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace ornavel {

// Memory blocks of a few fixed sizes whose pages are already in memory. A thread of its own makes
// them ready ahead of the taker, so that a thread storing a flood of lines does not stop at every
// fresh page. The thread starts when a size is first taken and sleeps until its blocks run low;
// sizes never taken are never made ready.
class TBlockSupply {
public:
  // Keeps up to ahead blocks ready of each of sizes once it is taken.
  TBlockSupply(std::vector<std::size_t> sizes, std::size_t ahead);
  TBlockSupply(const TBlockSupply&) = delete;
  TBlockSupply& operator=(const TBlockSupply&) = delete;

  // A block of size bytes: a ready one where there is one, a fresh one otherwise.
  std::unique_ptr<char[]> Take(std::size_t size);
  // Gives the whole pages between from and to back to the system, where a block taken turns out
  // to be longer than needed; the block stays the taker's, those pages reading as zeros.
  static void GiveBack(char* from, char* to);
  // How many blocks of that size are ready now.
  std::size_t ReadyCount(std::size_t size) const;

private:
  struct TShelf {
    std::size_t Size;
    bool Wanted = false;
    std::vector<std::unique_ptr<char[]>> Ready;
  };

  TShelf* ShelfFor(std::size_t size);
  bool Low() const;
  void StartRefilling();
  void Refill();
  static std::unique_ptr<char[]> ReadyBlock(std::size_t size);

  const std::size_t FAhead;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  std::vector<TShelf> FShelves;
  bool FThreadTried = false;
  TServiceThread FThread;
};

} // namespace ornavel
