/* A preload that makes one C library file call fail, as a full disk, a bad
 * sector or a refused rename would, or raises a signal at that call.
 *
 *   FAULT_CALL    the call: fopen, fread, fwrite, fseek, fflush, fclose,
 *                 rename or unlink
 *   FAULT_PATH    the file it must concern, by the name the program opened
 *                 it with (for rename, either name)
 *   FAULT_SKIP    how many such calls succeed first (default 0)
 *   FAULT_ERRNO   the failure, as EIO, ENOSPC, EFBIG, EACCES or EXDEV
 *   FAULT_SIGNAL  instead of failing, raise this signal number and go on
 *
 * A stream whose read or write was failed reports ferror() from then on, as
 * after a real failure. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_STREAMS 64

static struct {
  FILE *stream;
  char path[256];
  int failed;
} streams[MAX_STREAMS];

/* The C library's own `function`, which the wrapper of that name calls on. */
#define REAL(function) \
  ((__typeof__(&function))(uintptr_t)dlsym(RTLD_NEXT, #function))

static int slot_of(FILE *stream) {
  for (int i = 0; i < MAX_STREAMS; ++i)
    if (streams[i].stream == stream && stream != NULL) return i;
  return -1;
}

static const char *path_of(FILE *stream) {
  int slot = slot_of(stream);
  return slot < 0 ? "" : streams[slot].path;
}

static int errno_named(const char *name) {
  static const struct {
    const char *name;
    int value;
  } known[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EFBIG", EFBIG},
               {"EACCES", EACCES}, {"EXDEV", EXDEV},   {"EPERM", EPERM}};
  for (size_t i = 0; name && i < sizeof known / sizeof known[0]; ++i)
    if (strcmp(name, known[i].name) == 0) return known[i].value;
  return EIO;
}

/* Whether this call of `call` on `path` is the one to fail. A raised signal
 * counts as not failing. */
static int strikes(const char *call, const char *path) {
  static long matched;
  const char *want_call = getenv("FAULT_CALL");
  const char *want_path = getenv("FAULT_PATH");
  if (!want_call || strcmp(want_call, call) != 0) return 0;
  if (!want_path || !path || strcmp(want_path, path) != 0) return 0;
  const char *skip = getenv("FAULT_SKIP");
  if (matched++ != (skip ? atol(skip) : 0)) return 0;
  const char *signal_number = getenv("FAULT_SIGNAL");
  if (signal_number) {
    raise(atoi(signal_number));
    return 0;
  }
  errno = errno_named(getenv("FAULT_ERRNO"));
  return 1;
}

static void mark_failed(FILE *stream) {
  int slot = slot_of(stream);
  if (slot >= 0) streams[slot].failed = 1;
}

static FILE *track(FILE *stream, const char *path) {
  for (int i = 0; stream && i < MAX_STREAMS; ++i) {
    if (streams[i].stream == NULL) {
      streams[i].stream = stream;
      streams[i].failed = 0;
      snprintf(streams[i].path, sizeof streams[i].path, "%s", path);
      break;
    }
  }
  return stream;
}

FILE *fopen(const char *path, const char *mode) {
  return strikes("fopen", path) ? NULL : track(REAL(fopen)(path, mode), path);
}

FILE *fopen64(const char *path, const char *mode) {
  return strikes("fopen", path) ? NULL : track(REAL(fopen64)(path, mode), path);
}

size_t fread(void *buffer, size_t size, size_t count, FILE *stream) {
  if (strikes("fread", path_of(stream))) {
    mark_failed(stream);
    return 0;
  }
  return REAL(fread)(buffer, size, count, stream);
}

size_t fwrite(const void *buffer, size_t size, size_t count, FILE *stream) {
  if (strikes("fwrite", path_of(stream))) {
    mark_failed(stream);
    return 0;
  }
  return REAL(fwrite)(buffer, size, count, stream);
}

int fseek(FILE *stream, long offset, int whence) {
  if (strikes("fseek", path_of(stream))) return -1;
  return REAL(fseek)(stream, offset, whence);
}

int fseeko(FILE *stream, off_t offset, int whence) {
  if (strikes("fseek", path_of(stream))) return -1;
  return REAL(fseeko)(stream, offset, whence);
}

int fseeko64(FILE *stream, off64_t offset, int whence) {
  if (strikes("fseek", path_of(stream))) return -1;
  return REAL(fseeko64)(stream, offset, whence);
}

int fflush(FILE *stream) {
  if (stream && strikes("fflush", path_of(stream))) {
    mark_failed(stream);
    return EOF;
  }
  return REAL(fflush)(stream);
}

/* A failed close still releases the stream, as the real one does. */
int fclose(FILE *stream) {
  int fail = strikes("fclose", path_of(stream));
  int injected = errno;
  int slot = slot_of(stream);
  if (slot >= 0) streams[slot].stream = NULL;
  int result = REAL(fclose)(stream);
  if (!fail) return result;
  errno = injected;
  return EOF;
}

int ferror(FILE *stream) {
  int slot = slot_of(stream);
  return (slot >= 0 && streams[slot].failed) || REAL(ferror)(stream);
}

int feof(FILE *stream) {
  int slot = slot_of(stream);
  return !(slot >= 0 && streams[slot].failed) && REAL(feof)(stream);
}

int rename(const char *from, const char *to) {
  if (strikes("rename", from) || strikes("rename", to)) return -1;
  return REAL(rename)(from, to);
}

int unlink(const char *path) {
  if (strikes("unlink", path)) return -1;
  return REAL(unlink)(path);
}
