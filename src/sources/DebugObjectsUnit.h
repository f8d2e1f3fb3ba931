#pragma once

#include "core/FileDescriptorUnit.h"
#include "core/LogUnit.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <semaphore.h>
#include <stdexcept>
#include <string>

namespace ornavel {

// The names of the debug-output objects: the machine's own, or the same with a suffix, so that
// tests never meet a real reader or writer.
struct TDebugObjectNames {
  std::string Buffer;
  std::string BufferReady;
  std::string DataReady;

  static TDebugObjectNames WithSuffix(const std::string& suffix);
  static TDebugObjectNames Machine() { return WithSuffix(""); }
};

// A set-up step that failed, with the text and level the log is given.
class EDebugSetupError : public std::runtime_error {
public:
  EDebugSetupError(const std::string& text, TLogLevel level)
      : std::runtime_error(text), FLevel(level) {}
  TLogLevel Level() const { return FLevel; }

private:
  TLogLevel FLevel;
};

// Owns one opened named semaphore.
class TNamedSemaphore {
public:
  TNamedSemaphore() = default;
  explicit TNamedSemaphore(sem_t* semaphore) : FSemaphore(semaphore) {}
  ~TNamedSemaphore();
  TNamedSemaphore(TNamedSemaphore&& other) noexcept;
  TNamedSemaphore& operator=(TNamedSemaphore&& other) noexcept;

  sem_t* Get() const { return FSemaphore; }
  int Value() const;
  // Posts only when the count is 0, so that the semaphore behaves like an auto-reset event.
  void PostIfZero() const;
  // Answers 0 when a count was taken in time, otherwise the errno of the wait.
  int WaitUntil(const std::timespec& monotonicDeadline) const;
  // Tries for a count without sleeping, for about the given time: a writer that is busy posts
  // again within microseconds, and a reader that slept would have to be woken.
  bool SpinFor(std::chrono::nanoseconds spin) const;
  // Takes every count there is.
  void Drain() const;

private:
  sem_t* FSemaphore = nullptr;
};

// Owns one mapping of shared memory.
class TMapping {
public:
  TMapping() = default;
  TMapping(void* address, std::size_t size) : FAddress(address), FSize(size) {}
  ~TMapping();
  TMapping(TMapping&& other) noexcept;
  TMapping& operator=(TMapping&& other) noexcept;

  unsigned char* Bytes() const { return static_cast<unsigned char*>(FAddress); }

private:
  void* FAddress = nullptr;
  std::size_t FSize = 0;
};

// One live reader's share of the debug-output objects. Every live reader holds a shared lock on
// the buffer for its lifetime, and readers join and leave one at a time under an exclusive lock
// on another byte of it: so a reader that finds nobody else's lock knows that the objects there
// were left by one that died, replaces them, and the last reader to leave removes them.
class TDebugObjects {
public:
  // Joins the live readers, or makes fresh objects when there is none; fails with the step's
  // text and level.
  explicit TDebugObjects(const TDebugObjectNames& names);
  ~TDebugObjects();
  TDebugObjects(const TDebugObjects&) = delete;
  TDebugObjects& operator=(const TDebugObjects&) = delete;

  // Whether another live reader had the objects when this one joined.
  bool Shared() const { return FShared; }
  const TNamedSemaphore& BufferReady() const { return FBufferReady; }
  const TNamedSemaphore& DataReady() const { return FDataReady; }
  unsigned char* Buffer() const { return FView.Bytes(); }
  // Marks that a reader took a message, for readers that did not; a syscall, so at most a few
  // times a second.
  void MarkProgress();
  // When some reader last marked progress.
  std::timespec LastProgress() const;

private:
  bool TryJoin();
  void MakeFresh();
  void OpenShared();
  void Leave() noexcept;

  const TDebugObjectNames FNames;
  TFileDescriptor FBufferFile;
  TNamedSemaphore FBufferReady;
  TNamedSemaphore FDataReady;
  TMapping FView;
  bool FShared = false;
  bool FJoined = false;
  std::chrono::steady_clock::time_point FMarked;
};

} // namespace ornavel
