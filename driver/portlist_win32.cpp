// The ports present on Windows: the COM ports the system has, from the
// registry's SERIALCOMM key (value name: the device, e.g. \Device\Serial0 or
// \Device\VCP0; value: COMn).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/portlist.h"

namespace {
int ComNumber(const char* name) { return std::atoi(name + 3); }
}  // namespace

int ListPorts(PortInfo* out, int max, const char*) {
  int count = 0;
  if (max < 0) max = 0;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return 0;
  for (DWORD i = 0;; ++i) {
    char valueName[256];
    DWORD nameSize = sizeof valueName;
    BYTE data[64];
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG rc = RegEnumValueA(key, i, valueName, &nameSize, nullptr, &type, data, &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataSize] = 0;
    const char* com = reinterpret_cast<const char*>(data);
    if (std::strncmp(com, "COM", 3) != 0) continue;
    PortInfo p{};
    std::snprintf(p.path, sizeof p.path, "%s", com);
    std::snprintf(p.name, sizeof p.name, "%s", com);
    std::snprintf(p.kind, sizeof p.kind, "com");
    const char* slash = std::strrchr(valueName, '\\');
    std::snprintf(p.driver, sizeof p.driver, "%s", slash ? slash + 1 : valueName);
    if (count < max) out[count] = p;
    ++count;
  }
  RegCloseKey(key);
  std::sort(out, out + std::min(count, max),
            [](const PortInfo& a, const PortInfo& b) { return ComNumber(a.name) < ComNumber(b.name); });
  return count;
}
