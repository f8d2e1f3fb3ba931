#include "DebugObjectsUnit.h"

#include "core/FormatUnit.h"
#include "writer/DebugProtocolUnit.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <utility>

namespace ornavel {
namespace {

using namespace std::chrono_literals;

constexpr const char* CreateSynchronizationText = "Unable to create synchronization object";
constexpr const char* CreateMappingText = "Unable to create file mapping object";

constexpr off_t JoiningByte = ORNAVEL_DEBUG_JOINING_BYTE;
constexpr off_t LiveByte = ORNAVEL_DEBUG_LIVE_BYTE;
// Joining and leaving take microseconds; a reader stopped in between is not waited for forever.
constexpr auto JoiningPatience = 2s;
constexpr int JoinAttempts = 10;

[[noreturn]] void Fail(const char* text, TLogLevel level, int error) {
  throw EDebugSetupError(Format("%s: %s", text, std::strerror(error)), level);
}

// An open-file-description lock: held per descriptor, so that one process's readers (the tests
// run several) exclude each other as readers in other processes do.
bool TryLock(int file, short type, off_t byte) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  return ::fcntl(file, F_OFD_SETLK, &lock) == 0;
}

void Unlock(int file, off_t byte) {
  TryLock(file, F_UNLCK, byte);
}

// Answers false, with errno set, when another reader kept the lock too long.
bool LockJoining(int file) {
  const auto giveUp = std::chrono::steady_clock::now() + JoiningPatience;
  while (!TryLock(file, F_WRLCK, JoiningByte)) {
    if ((errno != EAGAIN && errno != EACCES) || std::chrono::steady_clock::now() >= giveUp)
      return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

bool Linked(int file) {
  struct stat status {};
  return ::fstat(file, &status) == 0 && status.st_nlink > 0;
}

off_t Size(int file) {
  struct stat status {};
  return ::fstat(file, &status) == 0 ? status.st_size : -1;
}

// The umask may only have taken bits away; glibc keeps a named semaphore as a file there.
void OwnerOnly(const std::string& semaphoreName) {
  ::chmod(("/dev/shm/sem." + semaphoreName.substr(1)).c_str(), 0600);
}

TNamedSemaphore CreateSemaphore(const std::string& name, unsigned value, TLogLevel level) {
  sem_t* semaphore = ::sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, value);
  if (semaphore == SEM_FAILED)
    Fail(CreateSynchronizationText, level, errno);
  TNamedSemaphore owned(semaphore);
  OwnerOnly(name);
  return owned;
}

TNamedSemaphore OpenSemaphore(const std::string& name, TLogLevel level) {
  sem_t* semaphore = ::sem_open(name.c_str(), 0);
  if (semaphore == SEM_FAILED)
    Fail(CreateSynchronizationText, level, errno);
  return TNamedSemaphore(semaphore);
}

void RemoveObjects(const TDebugObjectNames& names) {
  ::sem_unlink(names.BufferReady.c_str());
  ::sem_unlink(names.DataReady.c_str());
  ::shm_unlink(names.Buffer.c_str());
}

} // namespace

TDebugObjectNames TDebugObjectNames::WithSuffix(const std::string& suffix) {
  return {ORNAVEL_DEBUG_BUFFER_NAME + suffix, ORNAVEL_DEBUG_BUFFER_READY_NAME + suffix,
          ORNAVEL_DEBUG_DATA_READY_NAME + suffix};
}

TNamedSemaphore::~TNamedSemaphore() {
  if (FSemaphore != nullptr)
    ::sem_close(FSemaphore);
}

TNamedSemaphore::TNamedSemaphore(TNamedSemaphore&& other) noexcept
    : FSemaphore(std::exchange(other.FSemaphore, nullptr)) {}

TNamedSemaphore& TNamedSemaphore::operator=(TNamedSemaphore&& other) noexcept {
  std::swap(FSemaphore, other.FSemaphore);
  return *this;
}

int TNamedSemaphore::Value() const {
  int value = 0;
  ::sem_getvalue(FSemaphore, &value);
  return value;
}

void TNamedSemaphore::PostIfZero() const {
  if (Value() == 0)
    ::sem_post(FSemaphore);
}

int TNamedSemaphore::WaitUntil(const std::timespec& monotonicDeadline) const {
  return ::sem_clockwait(FSemaphore, CLOCK_MONOTONIC, &monotonicDeadline) == 0 ? 0 : errno;
}

bool TNamedSemaphore::SpinFor(std::chrono::nanoseconds spin) const {
  const auto giveUp = std::chrono::steady_clock::now() + spin;
  do {
    for (int i = 0; i < 16; ++i) {
      if (::sem_trywait(FSemaphore) == 0)
        return true;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
  } while (std::chrono::steady_clock::now() < giveUp);
  return false;
}

void TNamedSemaphore::Drain() const {
  while (::sem_trywait(FSemaphore) == 0) {
  }
}

TMapping::~TMapping() {
  if (FAddress != nullptr)
    ::munmap(FAddress, FSize);
}

TMapping::TMapping(TMapping&& other) noexcept
    : FAddress(std::exchange(other.FAddress, nullptr)), FSize(std::exchange(other.FSize, 0)) {}

TMapping& TMapping::operator=(TMapping&& other) noexcept {
  std::swap(FAddress, other.FAddress);
  std::swap(FSize, other.FSize);
  return *this;
}

TDebugObjects::TDebugObjects(const TDebugObjectNames& names) : FNames(names) {
  int attempt = 0;
  while (!TryJoin()) {
    if (++attempt == JoinAttempts)
      Fail(CreateMappingText, TLogLevel::Warning, EAGAIN);
  }
  try {
    void* view = ::mmap(nullptr, ORNAVEL_DEBUG_BUFFER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED,
                        FBufferFile.Get(), 0);
    if (view == MAP_FAILED)
      Fail("Unable to map shared memory", TLogLevel::Warning, errno);
    FView = TMapping(view, ORNAVEL_DEBUG_BUFFER_SIZE);
  } catch (...) {
    Leave();
    throw;
  }
}

TDebugObjects::~TDebugObjects() {
  Leave();
}

// Answers false when the buffer it opened was removed meanwhile, or held leftovers it removed:
// then it is to be tried again with the object the name now stands for.
bool TDebugObjects::TryJoin() {
  FBufferFile =
      TFileDescriptor(::shm_open(FNames.Buffer.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!FBufferFile.Valid())
    Fail(CreateMappingText, TLogLevel::Warning, errno);
  const int file = FBufferFile.Get();
  if (!LockJoining(file))
    Fail(CreateMappingText, TLogLevel::Warning, errno);
  if (!Linked(file))
    return false; // the last reader left, or leftovers were replaced, while we opened it
  FShared = !TryLock(file, F_WRLCK, LiveByte);
  if (!FShared && Size(file) != 0) {
    Unlock(file, LiveByte);
    RemoveObjects(FNames); // left by a reader that died
    return false;
  }
  // Before the buffer gets its size: a writer that finds the size finds a live reader too.
  if (!TryLock(file, F_RDLCK, LiveByte))
    Fail(CreateMappingText, TLogLevel::Warning, errno);
  if (FShared)
    OpenShared();
  else
    MakeFresh();
  Unlock(file, JoiningByte);
  FJoined = true;
  return true;
}

void TDebugObjects::OpenShared() {
  FBufferReady = OpenSemaphore(FNames.BufferReady, TLogLevel::Exception);
  FDataReady = OpenSemaphore(FNames.DataReady, TLogLevel::Warning);
}

// Writers go by the buffer's size: it is given last, when both semaphores stand ready.
void TDebugObjects::MakeFresh() {
  try {
    ::sem_unlink(FNames.BufferReady.c_str());
    ::sem_unlink(FNames.DataReady.c_str());
    FDataReady = CreateSemaphore(FNames.DataReady, 0, TLogLevel::Warning);
    FBufferReady = CreateSemaphore(FNames.BufferReady, 1, TLogLevel::Exception);
    ::fchmod(FBufferFile.Get(), 0600);
    // Reserved, not merely sized: a full /dev/shm fails here, not as SIGBUS later.
    const int reserved = ::posix_fallocate(FBufferFile.Get(), 0, ORNAVEL_DEBUG_BUFFER_SIZE);
    if (reserved != 0)
      Fail(CreateMappingText, TLogLevel::Warning, reserved);
  } catch (...) {
    RemoveObjects(FNames);
    throw;
  }
}

void TDebugObjects::Leave() noexcept {
  if (!std::exchange(FJoined, false))
    return;
  const int file = FBufferFile.Get();
  // Without the joining lock the objects stay; the next reader takes them for leftovers.
  if (!LockJoining(file))
    return;
  Unlock(file, LiveByte);
  if (TryLock(file, F_WRLCK, LiveByte))
    RemoveObjects(FNames); // nobody else is left
  Unlock(file, LiveByte);
  Unlock(file, JoiningByte);
}

void TDebugObjects::MarkProgress() {
  const auto now = std::chrono::steady_clock::now();
  if (now - FMarked < 100ms)
    return;
  FMarked = now;
  ::futimens(FBufferFile.Get(), nullptr);
}

std::timespec TDebugObjects::LastProgress() const {
  struct stat status {};
  ::fstat(FBufferFile.Get(), &status);
  return status.st_mtim;
}

} // namespace ornavel
