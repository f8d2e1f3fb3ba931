#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace ornavel {

// One lock for the creation of every single object of the process: the log creates the rules,
// whose loader reports through the log, so creations nest and must not take locks in two orders.
std::recursive_mutex& SingleObjectCreationLock();

// Holds one process-wide object that is made on first use. Making it has two steps: Make builds
// the object, then Initialise lets it reach other single objects. While Initialise runs, the
// creating thread (and only it, since it holds the creation lock) is given the object under
// construction when it asks again, so a report made during creation reaches the object instead
// of creating it a second time. Other threads wait until the object is complete.
template <class T>
class TSingleInstance {
public:
  using TMake = std::function<std::unique_ptr<T>()>;
  using TInitialise = std::function<void(T&)>;

  explicit TSingleInstance(std::string name) : FName(std::move(name)) {}

  T& Get(const TMake& make, const TInitialise& initialise) {
    if (T* ready = FReady.load(std::memory_order_acquire))
      return *ready;
    std::lock_guard lock(SingleObjectCreationLock());
    if (T* ready = FReady.load(std::memory_order_acquire))
      return *ready;
    if (FBuilding)
      return *FBuilding;
    if (FDestroyed)
      throw std::logic_error("The " + FName + " has already been destroyed");
    auto instance = make();
    FBuilding = instance.get();
    try {
      initialise(*instance);
    } catch (...) {
      FBuilding = nullptr;
      throw;
    }
    FBuilding = nullptr;
    FInstance = std::move(instance);
    FReady.store(FInstance.get(), std::memory_order_release);
    return *FInstance;
  }

  // The object if it is complete, without creating it.
  T* Existing() const { return FReady.load(std::memory_order_acquire); }

  // Destroys the object; from then on Get fails instead of making a second one.
  void Destroy() {
    std::unique_ptr<T> doomed;
    {
      std::lock_guard lock(SingleObjectCreationLock());
      FDestroyed = true;
      FReady.store(nullptr, std::memory_order_release);
      doomed = std::move(FInstance);
    }
  }

private:
  std::string FName;
  std::atomic<T*> FReady{nullptr};
  T* FBuilding = nullptr;
  std::unique_ptr<T> FInstance;
  bool FDestroyed = false;
};

} // namespace ornavel
