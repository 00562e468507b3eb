// COM port numbers on Linux and other POSIX systems: COM n is the link COMn
// in the per-user virtual port folder when it exists, else /dev/ttyS<n-1>.
// A device path starts with '/'.
#include <stdio.h>
#include <sys/stat.h>

#include "driver/link_internal.h"

namespace {
int gLastFolderCheck = kFolderUsable;
}

namespace km_driver {
bool IsDevicePath(const char* text) { return text && text[0] == '/'; }
}  // namespace km_driver

int GetLastPortFolderCheck() { return gLastFolderCheck; }

bool ResolveComPort(int port, char* out, unsigned size) {
  gLastFolderCheck = kFolderUsable;
  if (port < kMinComPort || port > kMaxComPort || !out || size == 0) return false;
  // Links in a folder that someone else controls could point anywhere: such a
  // folder is refused, not used and not passed over.
  gLastFolderCheck = CheckVirtualPortFolder(false);
  if (gLastFolderCheck < 0) return false;
  char link[256];
  struct stat st;
  if (gLastFolderCheck == kFolderUsable && VirtualComLink(port, link, sizeof link) && lstat(link, &st) == 0) {
    int n = snprintf(out, size, "%s", link);
    return n > 0 && static_cast<unsigned>(n) < size;
  }
  int n = snprintf(out, size, "/dev/ttyS%d", port - 1);
  return n > 0 && static_cast<unsigned>(n) < size;
}
