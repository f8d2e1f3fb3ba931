// A peer of the debug-output tests that they kill: "reader SUFFIX" joins the readers of the
// objects and serves nothing; "hold SUFFIX" takes the buffer as a writer and never gives it back.
// Either prints "ready" once in place and then waits to be killed.

#include "sources/DebugObjectsUnit.h"
#include "writer/DebugProtocolUnit.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int HoldBuffer(const ornavel::TDebugObjectNames& names) {
  const ornavel::TFileDescriptor buffer(::shm_open(names.Buffer.c_str(), O_RDWR, 0));
  sem_t* semaphore = ::sem_open(names.BufferReady.c_str(), 0);
  if (!buffer.Valid() || semaphore == SEM_FAILED)
    return 1;
  const ornavel::TNamedSemaphore bufferReady(semaphore);
  void* address =
      ::mmap(nullptr, ORNAVEL_DEBUG_BUFFER_SIZE, PROT_WRITE, MAP_SHARED, buffer.Get(), 0);
  if (address == MAP_FAILED)
    return 1;
  const ornavel::TMapping view(address, ORNAVEL_DEBUG_BUFFER_SIZE);
  ::sem_wait(bufferReady.Get());
  const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
  std::memcpy(view.Bytes(), &pid, sizeof pid); // little-endian, as the machine is
  std::puts("ready");
  std::fflush(stdout);
  for (;;)
    ::pause();
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  const auto names = ornavel::TDebugObjectNames::WithSuffix(argv[2]);
  if (std::string(argv[1]) == "hold")
    return HoldBuffer(names);
  const ornavel::TDebugObjects objects(names);
  std::puts("ready");
  std::fflush(stdout);
  for (;;)
    ::pause();
}
