// SPDX-License-Identifier: Apache-2.0
// Preloaded into vortan-flash by a test: the first time the program opens the work file named by
// VORTAN_TAMPER_FILE for reading, one byte of it is changed first, as another process could
// between the package writing its work files and the updater reading them back.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef int (*OpenFn)(const char*, int, ...);
typedef int (*OpenAtFn)(int, const char*, int, ...);

static void Tamper(const char* path, int flags) {
  static int done;
  const char* target = getenv("VORTAN_TAMPER_FILE");
  if (done || !target || !path || (flags & O_ACCMODE) != O_RDONLY) return;
  const char* base = strrchr(path, '/');
  if (strcmp(base ? base + 1 : path, target) != 0) return;
  done = 1;
  OpenFn realOpen = (OpenFn)dlsym(RTLD_NEXT, "open");
  int fd = realOpen(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  unsigned char byte;
  if (pread(fd, &byte, 1, 0) == 1) {
    byte ^= 0xFF;
    if (pwrite(fd, &byte, 1, 0) != 1) abort();
  }
  close(fd);
}

static mode_t ModeArg(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
}

#define DEFINE_OPEN(name)                          \
  int name(const char* path, int flags, ...) {     \
    va_list args;                                  \
    va_start(args, flags);                         \
    mode_t mode = ModeArg(flags, args);            \
    va_end(args);                                  \
    Tamper(path, flags);                           \
    OpenFn real = (OpenFn)dlsym(RTLD_NEXT, #name); \
    return real(path, flags, mode);                \
  }

#define DEFINE_OPENAT(name)                               \
  int name(int dirfd, const char* path, int flags, ...) { \
    va_list args;                                         \
    va_start(args, flags);                                \
    mode_t mode = ModeArg(flags, args);                   \
    va_end(args);                                         \
    Tamper(path, flags);                                  \
    OpenAtFn real = (OpenAtFn)dlsym(RTLD_NEXT, #name);    \
    return real(dirfd, path, flags, mode);                \
  }

DEFINE_OPEN(open)
DEFINE_OPEN(open64)
DEFINE_OPENAT(openat)
DEFINE_OPENAT(openat64)
