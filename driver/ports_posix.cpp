// COM port numbers on Linux and other POSIX systems: COM n is the link COMn
// in the per-user virtual port folder when it exists, else /dev/ttyS<n-1>.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/printer.h"

namespace {
int gLastFolderCheck = kFolderUsable;
}

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

int GetLastPortFolderCheck() { return gLastFolderCheck; }

bool ResolveComPort(int port, char* out, unsigned size) {
  gLastFolderCheck = kFolderUsable;
  if (port < 1 || size == 0) return false;
  // Links in a folder that someone else controls could point anywhere: such a
  // folder is refused, not used and not passed over.
  gLastFolderCheck = CheckVirtualPortFolder(false);
  if (gLastFolderCheck < 0) return false;
  char folder[200];
  if (gLastFolderCheck == kFolderUsable && VirtualPortFolder(folder, sizeof folder)) {
    char link[256];
    snprintf(link, sizeof link, "%s/COM%d", folder, port);
    struct stat st;
    if (lstat(link, &st) == 0) {
      int n = snprintf(out, size, "%s", link);
      return n > 0 && static_cast<unsigned>(n) < size;
    }
  }
  int n = snprintf(out, size, "/dev/ttyS%d", port - 1);
  return n > 0 && static_cast<unsigned>(n) < size;
}
