// The ports present on Linux, from sysfs: every tty of the tty class with a
// device behind it that is a USB serial adapter (ttyUSB), a CDC ACM device
// (ttyACM) or a UART (ttyS, only when a real one answers: the 8250 driver
// makes 32 of them, most with type 0, no UART); then the COMn links of the
// virtual port folder.
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/comports.h"
#include "driver/portlist.h"

// Paths and fields are cut to their buffers on purpose (a longer one is no
// port this tool can name anyway).
#pragma GCC diagnostic ignored "-Wformat-truncation"

namespace {

void Copy(char* out, size_t size, const char* text) {
  std::snprintf(out, size, "%s", text ? text : "");
}

// The first line of a small file, without its line end; "" when unreadable.
void ReadLine(const char* path, char* out, size_t size) {
  out[0] = '\0';
  FILE* f = std::fopen(path, "r");
  if (!f) return;
  if (std::fgets(out, static_cast<int>(size), f)) out[std::strcspn(out, "\r\n")] = '\0';
  std::fclose(f);
}

bool Exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

void Add(PortInfo* out, int max, int* count, const PortInfo& p) {
  if (*count < max) out[*count] = p;
  ++*count;
}

void FromSysfs(const char* root, PortInfo* out, int max, int* count) {
  char classDir[PATH_MAX];
  std::snprintf(classDir, sizeof classDir, "%s/class/tty", root);
  DIR* dir = opendir(classDir);
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    const char* name = e->d_name;
    const bool usb = StartsWith(name, "ttyUSB"), acm = StartsWith(name, "ttyACM"), uart = StartsWith(name, "ttyS");
    if (!usb && !acm && !uart) continue;
    char device[PATH_MAX], path[PATH_MAX], resolved[PATH_MAX];
    std::snprintf(device, sizeof device, "%s/%s/device", classDir, name);
    if (!realpath(device, resolved)) continue;  // no device: a virtual tty
    PortInfo p{};
    std::snprintf(p.path, sizeof p.path, "/dev/%s", name);
    Copy(p.name, sizeof p.name, name);
    Copy(p.kind, sizeof p.kind, usb ? "usb" : acm ? "acm" : "uart");
    std::snprintf(path, sizeof path, "%s/driver", device);
    char target[PATH_MAX];
    const ssize_t n = readlink(path, target, sizeof target - 1);
    if (n > 0) {
      target[n] = '\0';
      const char* slash = std::strrchr(target, '/');
      Copy(p.driver, sizeof p.driver, slash ? slash + 1 : target);
    }
    if (uart) {
      // The 8250 driver's ports without a UART say type 0.
      char type[16];
      std::snprintf(path, sizeof path, "%s/%s/type", classDir, name);
      ReadLine(path, type, sizeof type);
      if (std::strcmp(type, "0") == 0 || (type[0] == '\0' && std::strcmp(p.driver, "serial8250") == 0)) continue;
    }
    // The USB device: the nearest folder above with an idVendor.
    char at[PATH_MAX];
    Copy(at, sizeof at, resolved);
    for (int up = 0; up < 4 && at[0]; ++up) {
      std::snprintf(path, sizeof path, "%s/idVendor", at);
      if (Exists(path)) {
        const auto field = [&](const char* file, char* to, size_t size) {
          std::snprintf(path, sizeof path, "%s/%s", at, file);
          ReadLine(path, to, size);
        };
        field("idVendor", p.vendorId, sizeof p.vendorId);
        field("idProduct", p.productId, sizeof p.productId);
        field("manufacturer", p.manufacturer, sizeof p.manufacturer);
        field("product", p.product, sizeof p.product);
        field("serial", p.serial, sizeof p.serial);
        break;
      }
      char* slash = std::strrchr(at, '/');
      if (!slash || slash == at) break;
      *slash = '\0';
    }
    Add(out, max, count, p);
  }
  closedir(dir);
}

void FromPortFolder(PortInfo* out, int max, int* count) {
  char folder[PATH_MAX];
  if (!VirtualPortFolder(folder, sizeof folder) || CheckVirtualPortFolder(false) != kFolderUsable) return;
  DIR* dir = opendir(folder);
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    int number = 0;
    if (!StartsWith(e->d_name, "COM") || !ParseComNumber(e->d_name + 3, &number)) continue;
    PortInfo p{};
    std::snprintf(p.path, sizeof p.path, "%s/%s", folder, e->d_name);
    char target[PATH_MAX];
    const ssize_t n = readlink(p.path, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (!Exists(p.path)) continue;  // a link to nothing any more
    Copy(p.name, sizeof p.name, e->d_name);
    Copy(p.kind, sizeof p.kind, "virtual");
    Copy(p.driver, sizeof p.driver, target);
    Add(out, max, count, p);
  }
  closedir(dir);
}

// Paths in the order a person counts: ttyUSB2 before ttyUSB10, COM3 before
// COM12 (runs of digits compare as numbers).
bool PathBefore(const char* a, const char* b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (*a && *b) {
    if (digit(*a) && digit(*b)) {
      while (*a == '0') ++a;
      while (*b == '0') ++b;
      int la = 0, lb = 0;
      while (digit(a[la])) ++la;
      while (digit(b[lb])) ++lb;
      if (la != lb) return la < lb;
      const int c = std::strncmp(a, b, static_cast<size_t>(la));
      if (c != 0) return c < 0;
      a += la;
      b += lb;
    } else {
      if (*a != *b) return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b);
      ++a;
      ++b;
    }
  }
  return *b != 0;
}

}  // namespace

int ListPorts(PortInfo* out, int max, const char* sysRoot) {
  int count = 0;
  if (max < 0) max = 0;
  FromSysfs(sysRoot ? sysRoot : "/sys", out, max, &count);
  if (!sysRoot) FromPortFolder(out, max, &count);
  std::sort(out, out + std::min(count, max),
            [](const PortInfo& a, const PortInfo& b) { return PathBefore(a.path, b.path); });
  return count;
}
