// The ports present on Windows: the COM ports the system has, from the
// registry's SERIALCOMM key (value name: the device, e.g. \Device\Serial0 or
// \Device\VCP0; value: COMn), with what the device manager knows of each
// (SetupAPI's Ports class): the friendly name, the maker, and for a USB
// adapter its ids and serial number.
#include <windows.h>
// clang-format off
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/portlist.h"

namespace {
int ComNumber(const char* name) { return std::atoi(name + 3); }

void ToUtf8(const wchar_t* text, char* out, int size) {
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, nullptr, nullptr) <= 0) out[0] = 0;
}

// Four hex digits after `tag` ("VID_", "PID_") in a hardware id, or "".
void IdAfter(const char* id, const char* tag, char out[5]) {
  out[0] = 0;
  const char* at = std::strstr(id, tag);
  if (!at) return;
  at += std::strlen(tag);
  for (int i = 0; i < 4; ++i) {
    const char c = at[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) {
      out[0] = 0;
      return;
    }
    out[i] = c;
  }
  out[4] = 0;
}

// Adds the device manager's words to the ports listed: the product (the
// friendly name without its " (COMn)"), the maker, the USB ids and, where the
// instance id is a USB one that ends in the adapter's own serial number, that.
void AddDeviceNames(PortInfo* ports, int count) {
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char portName[32] = "";
    DWORD size = sizeof portName - 1, type = 0;
    const LONG rc = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    portName[size < sizeof portName ? size : sizeof portName - 1] = 0;
    PortInfo* port = nullptr;
    for (int k = 0; k < count && !port; ++k)
      if (_stricmp(ports[k].name, portName) == 0) port = &ports[k];
    if (!port) continue;
    wchar_t text[256];
    if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(text),
                                          sizeof text - sizeof(wchar_t), nullptr)) {
      text[255] = 0;
      ToUtf8(text, port->product, sizeof port->product);
      // "USB Serial Port (COM3)": the port's name is said already.
      char tail[40];
      std::snprintf(tail, sizeof tail, " (%s)", port->name);
      const size_t n = std::strlen(port->product), t = std::strlen(tail);
      if (n > t && _stricmp(port->product + n - t, tail) == 0) port->product[n - t] = 0;
    }
    if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_MFG, nullptr, reinterpret_cast<BYTE*>(text),
                                          sizeof text - sizeof(wchar_t), nullptr)) {
      text[255] = 0;
      ToUtf8(text, port->manufacturer, sizeof port->manufacturer);
    }
    char instance[256];
    if (SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr)) {
      IdAfter(instance, "VID_", port->vendorId);
      IdAfter(instance, "PID_", port->productId);
      const char* last = std::strrchr(instance, '\\');
      // USB\VID_0403&PID_6001\A50285BI: a serial number; a generated id has '&'.
      if (port->vendorId[0] && std::strncmp(instance, "USB\\", 4) == 0 && last && !std::strchr(last, '&'))
        std::snprintf(port->serial, sizeof port->serial, "%s", last + 1);
      if (std::strncmp(instance, "USB\\", 4) == 0 || std::strncmp(instance, "FTDIBUS\\", 8) == 0)
        std::snprintf(port->kind, sizeof port->kind, "usb");
    }
  }
  SetupDiDestroyDeviceInfoList(set);
}
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
  AddDeviceNames(out, std::min(count, max));
  std::sort(out, out + std::min(count, max),
            [](const PortInfo& a, const PortInfo& b) { return ComNumber(a.name) < ComNumber(b.name); });
  return count;
}
