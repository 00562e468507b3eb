// The virtual port folder on Linux and other POSIX systems.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/comports.h"

bool VirtualPortFolder(char* out, unsigned size) {
  if (!out || size == 0) return false;
  // Only an absolute XDG_RUNTIME_DIR counts; a relative one would depend on
  // the folder the program was started in.
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  int n;
  if (runtime && runtime[0] == '/')
    n = snprintf(out, size, "%s/km4410r", runtime);
  else
    n = snprintf(out, size, "/tmp/km4410r-%u", static_cast<unsigned>(getuid()));
  return n > 0 && static_cast<unsigned>(n) < size;
}

int CheckVirtualPortFolder(bool create) {
  char folder[256];
  if (!VirtualPortFolder(folder, sizeof folder)) {
    errno = ENAMETOOLONG;
    return kFolderCannotCreate;
  }
  struct stat st;
  if (lstat(folder, &st) != 0) {
    if (errno != ENOENT) return kFolderCannotCreate;
    if (!create) return kFolderAbsent;
    // Under /tmp anyone may create the folder first: make it ours and private,
    // then look at what is there (it may have been planted in between).
    if (mkdir(folder, 0700) != 0 && errno != EEXIST) return kFolderCannotCreate;
    if (lstat(folder, &st) != 0) return kFolderCannotCreate;
  }
  if (!S_ISDIR(st.st_mode)) return kFolderNotADirectory;  // a link or a file
  if (st.st_uid != getuid()) return kFolderNotOwned;
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return kFolderOpenToOthers;
  return kFolderUsable;
}

bool VirtualComLink(int port, char* out, unsigned size) {
  if (port < kMinComPort || port > kMaxComPort || !out || size == 0) return false;
  char folder[256];
  if (!VirtualPortFolder(folder, sizeof folder)) return false;
  int n = snprintf(out, size, "%s/COM%d", folder, port);
  return n > 0 && static_cast<unsigned>(n) < size;
}
