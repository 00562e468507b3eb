// COM port numbers on Windows: COM n is the system's own device \\.\COMn
// (the form that also reaches ports above 9). There is no virtual port
// folder: virtual COM pairs and USB adapters get their numbers from Windows.
// A device path is one in the device namespace, \\.\...
#include <stdio.h>
#include <string.h>

#include "driver/link_internal.h"

namespace km_driver {
bool IsDevicePath(const char* text) { return text && strncmp(text, "\\\\.\\", 4) == 0 && text[4] != 0; }
}  // namespace km_driver

int GetLastPortFolderCheck() { return kFolderUsable; }

bool ResolveComPort(int port, char* out, unsigned size) {
  if (port < kMinComPort || port > kMaxComPort || !out || size == 0) return false;
  int n = snprintf(out, size, "\\\\.\\COM%d", port);
  return n > 0 && static_cast<unsigned>(n) < size;
}
