/* A preload that makes one C library file call fail, as a full disk, a bad
 * sector or a refused rename would, or raises a signal at that call.
 *
 *   FAULT_CALL    the call: open, read, write, lseek, ftruncate, fsync,
 *                 close, rename or unlink
 *   FAULT_PATH    the file it must concern, by the name the program opened
 *                 it with (for rename, either name; "." for the working
 *                 directory, as when it is flushed)
 *   FAULT_SKIP    how many such calls succeed first (default 0)
 *   FAULT_ERRNO   the failure, as EIO, ENOSPC, EFBIG, EACCES or EXDEV
 *   FAULT_SIGNAL  instead of failing, raise this signal number and go on */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#define MAX_DESCRIPTORS 1024

/* The name each open descriptor was opened by. */
static char paths[MAX_DESCRIPTORS][256];

/* The C library's own `function`, which the wrapper of that name calls on. */
#define REAL(function) \
  ((__typeof__(&function))(uintptr_t)dlsym(RTLD_NEXT, #function))

static const char *path_of(int fd) {
  return fd >= 0 && fd < MAX_DESCRIPTORS ? paths[fd] : "";
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

static int track(int fd, const char *path) {
  if (fd >= 0 && fd < MAX_DESCRIPTORS)
    snprintf(paths[fd], sizeof paths[fd], "%s", path);
  return fd;
}

static mode_t mode_argument(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
}

#define OPEN_WRAPPER(name)                             \
  int name(const char *path, int flags, ...) {         \
    va_list args;                                      \
    va_start(args, flags);                             \
    mode_t mode = mode_argument(flags, args);          \
    va_end(args);                                      \
    if (strikes("open", path)) return -1;              \
    return track(REAL(name)(path, flags, mode), path); \
  }
OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)

ssize_t read(int fd, void *buffer, size_t size) {
  if (strikes("read", path_of(fd))) return -1;
  return REAL(read)(fd, buffer, size);
}

ssize_t write(int fd, const void *buffer, size_t size) {
  if (strikes("write", path_of(fd))) return -1;
  return REAL(write)(fd, buffer, size);
}

off_t lseek(int fd, off_t offset, int whence) {
  if (strikes("lseek", path_of(fd))) return -1;
  return REAL(lseek)(fd, offset, whence);
}

off64_t lseek64(int fd, off64_t offset, int whence) {
  if (strikes("lseek", path_of(fd))) return -1;
  return REAL(lseek64)(fd, offset, whence);
}

int ftruncate(int fd, off_t size) {
  if (strikes("ftruncate", path_of(fd))) return -1;
  return REAL(ftruncate)(fd, size);
}

int ftruncate64(int fd, off64_t size) {
  if (strikes("ftruncate", path_of(fd))) return -1;
  return REAL(ftruncate64)(fd, size);
}

int fsync(int fd) {
  if (strikes("fsync", path_of(fd))) return -1;
  return REAL(fsync)(fd);
}

/* A failed close still releases the descriptor, as the real one does. */
int close(int fd) {
  int fail = strikes("close", path_of(fd));
  int injected = errno;
  if (fd >= 0 && fd < MAX_DESCRIPTORS) paths[fd][0] = '\0';
  int result = REAL(close)(fd);
  if (!fail) return result;
  errno = injected;
  return -1;
}

int rename(const char *from, const char *to) {
  if (strikes("rename", from) || strikes("rename", to)) return -1;
  return REAL(rename)(from, to);
}

int unlink(const char *path) {
  if (strikes("unlink", path)) return -1;
  return REAL(unlink)(path);
}
