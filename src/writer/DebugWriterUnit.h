#pragma once

/* Sends debug output to Ornavel, which shows it as a line of its debug-output source. Installed
   as <ornavel-debug.h>; link with -lornavel-debug. */

#ifdef __cplusplus
extern "C" {
#endif

/* Sends text (a NUL-ended string; beyond 4091 bytes it is cut) as one message from the calling
   process. Answers 0 when the message was handed to a reader, or a negative errno:
   -ENOENT when no reader is running (the message is gone, at once), -ETIMEDOUT when the reader did
   not take it within 2 seconds, -EACCES when another user's reader holds the objects. Safe to call
   from several threads; the objects stay open between calls and are opened again when the reader
   was restarted. */
__attribute__((visibility("default"))) int ornavel_debug_output(const char* text);

#ifdef __cplusplus
}
#endif
