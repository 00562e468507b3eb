// Windows has no virtual port folder: virtual COM pairs and USB adapters get
// their numbers from Windows itself.
#include <errno.h>

#include "common/comports.h"

bool VirtualPortFolder(char* out, unsigned size) {
  if (out && size > 0) out[0] = 0;
  return false;
}

int CheckVirtualPortFolder(bool create) {
  if (!create) return kFolderAbsent;
  errno = ENOSYS;
  return kFolderCannotCreate;
}

bool VirtualComLink(int, char* out, unsigned size) {
  if (out && size > 0) out[0] = 0;
  return false;
}
