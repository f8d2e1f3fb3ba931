#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace ornavel {

// Holds one process-wide object that is made on first use. Making one single object may use
// others (the rules report a load failure through the log), but never itself: the objects depend
// on each other one way, so each has a lock of its own. Other threads asking meanwhile wait until
// the object is complete.
template <class T>
class TSingleInstance {
public:
  using TMake = std::function<std::unique_ptr<T>()>;

  explicit TSingleInstance(std::string name) : FName(std::move(name)) {}

  T& Get(const TMake& make) {
    if (T* ready = FReady.load(std::memory_order_acquire))
      return *ready;
    if (FMaker.load() == std::this_thread::get_id())
      throw std::logic_error("The " + FName + " was asked for while it was being made");
    std::lock_guard lock(FLock);
    if (T* ready = FReady.load(std::memory_order_acquire))
      return *ready;
    if (FDestroyed)
      throw std::logic_error("The " + FName + " has already been destroyed");
    FMaker = std::this_thread::get_id();
    try {
      FInstance = make();
    } catch (...) {
      FMaker = std::thread::id();
      throw;
    }
    FMaker = std::thread::id();
    FReady.store(FInstance.get(), std::memory_order_release);
    return *FInstance;
  }

  // The object if it is complete, without creating it.
  T* Existing() const { return FReady.load(std::memory_order_acquire); }

  // Destroys the object; from then on Get fails instead of making a second one.
  void Destroy() {
    std::unique_ptr<T> doomed;
    {
      std::lock_guard lock(FLock);
      FDestroyed = true;
      FReady.store(nullptr, std::memory_order_release);
      doomed = std::move(FInstance);
    }
  }

private:
  std::string FName;
  std::mutex FLock; // guards the members below but FReady and FMaker
  std::atomic<T*> FReady{nullptr};
  std::atomic<std::thread::id> FMaker;
  std::unique_ptr<T> FInstance;
  bool FDestroyed = false;
};

} // namespace ornavel
