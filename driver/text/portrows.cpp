#include "driver/text/portrows.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <vector>

namespace km_text {

namespace {

// A tab or a line break in a field would break the line's columns.
std::string Field(const char* text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return out;
}

std::string Json(const char* text) {
  std::string out = "\"";
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string PortRows(const PortInfo* ports, int count, bool json) {
  std::string out = json ? "[" : "";
  for (int i = 0; i < count; ++i) {
    const PortInfo& p = ports[i];
    char description[512];
    DescribePort(p, description, sizeof description);
    const char* fields[][2] = {{"path", p.path},         {"name", p.name},
                               {"kind", p.kind},         {"driver", p.driver},
                               {"manufacturer", p.manufacturer}, {"product", p.product},
                               {"vendor_id", p.vendorId}, {"product_id", p.productId},
                               {"serial", p.serial},     {"description", description}};
    if (json) {
      out += i ? ",\n {" : "\n {";
      bool first = true;
      for (const auto& f : fields) {
        out += first ? "" : ", ";
        out += Json(f[0]) + ": " + Json(f[1]);
        first = false;
      }
      out += "}";
    } else {
      bool first = true;
      for (const auto& f : fields) {
        out += first ? "" : "\t";
        out += Field(f[1]);
        first = false;
      }
      out += "\n";
    }
  }
  if (json) out += count ? "\n]\n" : "]\n";
  return out;
}

std::string ListPortRows(bool json, const char* sysRoot) {
  std::vector<PortInfo> ports(64);
  int count = ListPorts(ports.data(), static_cast<int>(ports.size()), sysRoot);
  if (count > static_cast<int>(ports.size())) {
    ports.resize(static_cast<size_t>(count));
    count = std::min(count, ListPorts(ports.data(), count, sysRoot));
  }
  return PortRows(ports.data(), count, json);
}

int PrintPortList(const char* program, bool json, const char* sysRoot) {
  struct stat st;
  if (sysRoot && (stat(sysRoot, &st) != 0 || !S_ISDIR(st.st_mode))) {
    std::fprintf(stderr, "%s: --sysfs %s: no such folder\n", program, sysRoot);
    return 2;
  }
  std::fputs(ListPortRows(json, sysRoot).c_str(), stdout);
  return 0;
}

int ListPortsCommand(const char* program, int count, const char* const* args) {
  bool json = false;
  int sysfs = -1;  // where --sysfs stands
  for (int i = 0; i < count; ++i) {
    if (!std::strcmp(args[i], "--json")) json = true;
    if (sysfs < 0 && !std::strcmp(args[i], "--sysfs")) sysfs = i;
  }
  const char* tree = sysfs >= 0 && sysfs + 1 < count ? args[sysfs + 1] : "";
  // Only these, once each: one argument more or less than they make is one
  // that does not belong.
  if (count != 1 + (json ? 1 : 0) + (sysfs >= 0 ? 2 : 0) || (sysfs >= 0 && !tree[0])) {
    std::fprintf(stderr, "%s: --list-ports takes only --json and --sysfs DIR\n", program);
    return 2;
  }
  return PrintPortList(program, json, tree[0] ? tree : nullptr);
}

}  // namespace km_text
