#pragma once

/* What the debug-output reader and its writers share: the objects' names and the buffer's
   layout. Plain C, so that the writer library needs nothing else. */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The machine-wide names; a reader or writer given a suffix appends it to each, so that tests
   never meet a real reader. */
#define ORNAVEL_DEBUG_BUFFER_NAME "/DBWIN_BUFFER"
#define ORNAVEL_DEBUG_BUFFER_READY_NAME "/DBWIN_BUFFER_READY"
#define ORNAVEL_DEBUG_DATA_READY_NAME "/DBWIN_DATA_READY"

enum {
  /* The buffer: the writer's process id, 4 bytes little-endian, then its NUL-ended text. */
  ORNAVEL_DEBUG_BUFFER_SIZE = 4096,
  ORNAVEL_DEBUG_TEXT_OFFSET = 4,
  /* Room for a text and its NUL, with a byte to spare as other writers of the protocol leave. */
  ORNAVEL_DEBUG_MAX_TEXT = 4091,
  /* Bytes of the buffer object that are locked, never written through the locks: every live
     reader holds a shared lock on the one, and readers join and leave one at a time under an
     exclusive lock on the other. A writer finding no lock on the first knows no reader is there. */
  ORNAVEL_DEBUG_LIVE_BYTE = 1,
  ORNAVEL_DEBUG_JOINING_BYTE = 0,
  /* The longest a writer waits for the buffer, in milliseconds. */
  ORNAVEL_DEBUG_WRITER_PATIENCE_MS = 2000
};

/* Sends text as coming from process pid to the reader of the objects named with suffix, and
   answers 0 or a negative errno as ornavel_debug_output does. The objects stay open for the next
   call with the same suffix. Safe to call from several threads. */
int ornavel_debug_send(const char* suffix, uint32_t pid, const char* text);

#ifdef __cplusplus
}
#endif
