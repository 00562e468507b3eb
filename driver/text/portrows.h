// The list of the ports present as km4410r-cmd --list-ports and km4410r
// --list-ports print it: one port a line with tab-separated fields (path,
// name, kind, driver, manufacturer, product, vendor id, product id, serial,
// description), or a JSON array of objects with the same fields.
#pragma once
#include <string>

#include "driver/portlist.h"

namespace km_text {
std::string PortRows(const PortInfo* ports, int count, bool json);
// Lists the ports of this machine and formats them; with `sysRoot`, those
// of the sysfs tree there instead of /sys (the virtual COM links left out).
std::string ListPortRows(bool json, const char* sysRoot = nullptr);
}  // namespace km_text
