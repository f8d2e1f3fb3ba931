#define _GNU_SOURCE

#include "DebugWriterUnit.h"

#include "DebugProtocolUnit.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* The reader's objects as one writer holds them. */
struct TChannel {
  char Suffix[64];
  int Open;
  int Buffer;
  unsigned char* View;
  sem_t* BufferReady;
  sem_t* DataReady;
};

/* One kept channel per process, for the suffix used last; the lock serialises its users. */
static struct TChannel Kept = {.Buffer = -1};
static pthread_mutex_t KeptLock = PTHREAD_MUTEX_INITIALIZER;

static void LockKept(void) {
  pthread_mutex_lock(&KeptLock);
}

static void UnlockKept(void) {
  pthread_mutex_unlock(&KeptLock);
}

/* A child forked while another thread sends must not inherit a lock nobody will release. */
__attribute__((constructor)) static void GuardForks(void) {
  pthread_atfork(LockKept, UnlockKept, UnlockKept);
}

static void CloseChannel(struct TChannel* channel) {
  if (channel->View != NULL)
    munmap(channel->View, ORNAVEL_DEBUG_BUFFER_SIZE);
  if (channel->BufferReady != NULL)
    sem_close(channel->BufferReady);
  if (channel->DataReady != NULL)
    sem_close(channel->DataReady);
  if (channel->Buffer >= 0)
    close(channel->Buffer);
  memset(channel, 0, sizeof *channel);
  channel->Buffer = -1;
}

static int Name(char* name, size_t size, const char* base, const char* suffix) {
  const int length = snprintf(name, size, "%s%s", base, suffix);
  return length < 0 || (size_t)length >= size ? -ENAMETOOLONG : 0;
}

static int OpenSemaphore(sem_t** semaphore, const char* base, const char* suffix) {
  char name[128];
  const int named = Name(name, sizeof name, base, suffix);
  if (named < 0)
    return named;
  *semaphore = sem_open(name, 0);
  if (*semaphore == SEM_FAILED) {
    *semaphore = NULL;
    return -errno;
  }
  return 0;
}

/* The buffer is opened first and only once the reader has given it its size, which it does
   after making both semaphores: so the semaphores found by name belong to that buffer. */
static int OpenBuffer(struct TChannel* channel, const char* suffix) {
  char name[128];
  const int named = Name(name, sizeof name, ORNAVEL_DEBUG_BUFFER_NAME, suffix);
  if (named < 0)
    return named;
  channel->Buffer = shm_open(name, O_RDWR | O_CLOEXEC, 0);
  if (channel->Buffer < 0)
    return -errno;
  struct stat status;
  if (fstat(channel->Buffer, &status) != 0)
    return -errno;
  /* A reader still setting up counts as none; mapping a shorter object would fault later. */
  if (status.st_size < ORNAVEL_DEBUG_BUFFER_SIZE)
    return -ENOENT;
  void* view =
      mmap(NULL, ORNAVEL_DEBUG_BUFFER_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, channel->Buffer, 0);
  if (view == MAP_FAILED)
    return -errno;
  channel->View = view;
  return 0;
}

static int OpenChannel(struct TChannel* channel, const char* suffix) {
  if (strlen(suffix) >= sizeof channel->Suffix)
    return -ENAMETOOLONG;
  int result = OpenBuffer(channel, suffix);
  if (result == 0)
    result = OpenSemaphore(&channel->BufferReady, ORNAVEL_DEBUG_BUFFER_READY_NAME, suffix);
  if (result == 0)
    result = OpenSemaphore(&channel->DataReady, ORNAVEL_DEBUG_DATA_READY_NAME, suffix);
  if (result != 0) {
    CloseChannel(channel);
    return result;
  }
  strcpy(channel->Suffix, suffix);
  channel->Open = 1;
  return 0;
}

/* Whether a reader serves the kept objects: it holds a lock on them for as long as it lives. A
   reader that leaves last, or that replaces the objects of one that died, unlinks them, and
   nobody reads objects that are unlinked or left by a reader that died. */
static int ReaderLive(const struct TChannel* channel) {
  struct flock probe = {
      .l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = ORNAVEL_DEBUG_LIVE_BYTE, .l_len = 1};
  if (fcntl(channel->Buffer, F_OFD_GETLK, &probe) != 0)
    return 1; /* cannot tell: the wait for the buffer decides */
  return probe.l_type != F_UNLCK;
}

static int EnsureOpen(struct TChannel* channel, const char* suffix) {
  if (channel->Open && (strcmp(channel->Suffix, suffix) != 0 || !ReaderLive(channel)))
    CloseChannel(channel);
  if (channel->Open)
    return 0;
  const int result = OpenChannel(channel, suffix);
  if (result == 0 && !ReaderLive(channel)) {
    CloseChannel(channel);
    return -ENOENT;
  }
  return result;
}

static struct timespec Later(struct timespec time, long milliseconds) {
  time.tv_sec += milliseconds / 1000;
  time.tv_nsec += (milliseconds % 1000) * 1000000L;
  if (time.tv_nsec >= 1000000000L) {
    time.tv_sec += 1;
    time.tv_nsec -= 1000000000L;
  }
  return time;
}

static int Before(struct timespec a, struct timespec b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

/* Waits for the buffer until the deadline, in slices, so that a reader that left while we waited
   is noticed (-ESTALE) instead of waited for to the end. */
static int TakeBuffer(const struct TChannel* channel, struct timespec deadline) {
  for (;;) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (!Before(now, deadline))
      return -ETIMEDOUT;
    struct timespec slice = Later(now, 100);
    if (Before(deadline, slice))
      slice = deadline;
    if (sem_clockwait(channel->BufferReady, CLOCK_MONOTONIC, &slice) == 0)
      return 0;
    if (errno != ETIMEDOUT && errno != EINTR)
      return -errno;
    if (!ReaderLive(channel))
      return -ESTALE;
  }
}

/* The process id goes first: a reader finding the buffer taken but empty tells by it whether
   the writer still lives. */
static void WriteMessage(unsigned char* view, uint32_t pid, const char* text) {
  for (int i = 0; i < 4; ++i)
    view[i] = (unsigned char)(pid >> (8 * i));
  const size_t length = strnlen(text, ORNAVEL_DEBUG_MAX_TEXT);
  memcpy(view + ORNAVEL_DEBUG_TEXT_OFFSET, text, length);
  view[ORNAVEL_DEBUG_TEXT_OFFSET + length] = '\0';
}

static int Send(const char* suffix, uint32_t pid, const char* text) {
  struct timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline = Later(deadline, ORNAVEL_DEBUG_WRITER_PATIENCE_MS);
  for (;;) {
    int result = EnsureOpen(&Kept, suffix);
    if (result == 0)
      result = TakeBuffer(&Kept, deadline);
    if (result == -ESTALE) {
      CloseChannel(&Kept); /* a new reader may have come: look again */
      continue;
    }
    if (result != 0)
      return result;
    WriteMessage(Kept.View, pid, text);
    return sem_post(Kept.DataReady) == 0 ? 0 : -errno;
  }
}

int ornavel_debug_send(const char* suffix, uint32_t pid, const char* text) {
  if (suffix == NULL || text == NULL)
    return -EINVAL;
  LockKept();
  const int result = Send(suffix, pid, text);
  UnlockKept();
  return result;
}

int ornavel_debug_output(const char* text) {
  return ornavel_debug_send("", (uint32_t)getpid(), text);
}
