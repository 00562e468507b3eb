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

// "--list-ports [--json] [--sysfs DIR]", the same in km4410r-cmd and
// km4410r: `args` are the program's arguments after its name, --list-ports
// among them, and only --json and --sysfs DIR beside it, each once, in any
// order. Prints the list on stdout and returns 0; or one line on stderr,
// "<program>: ...", and returns 2 (usage).
int ListPortsCommand(const char* program, int count, const char* const* args);
}  // namespace km_text
