// COM port numbers on Windows: COM n is the system's own device \\.\COMn
// (the form that also reaches ports above 9). There is no virtual port
// folder: virtual COM pairs and USB adapters get their numbers from Windows.
#include <errno.h>
#include <stdio.h>

#include "driver/printer.h"

bool VirtualPortFolder(char* out, unsigned size) {
  if (out && size > 0) out[0] = 0;
  return false;
}

int CheckVirtualPortFolder(bool create) {
  if (!create) return kFolderAbsent;
  errno = ENOSYS;
  return kFolderCannotCreate;
}

int GetLastPortFolderCheck() { return kFolderUsable; }

bool ResolveComPort(int port, char* out, unsigned size) {
  if (port < 1 || !out || size == 0) return false;
  int n = snprintf(out, size, "\\\\.\\COM%d", port);
  return n > 0 && static_cast<unsigned>(n) < size;
}
