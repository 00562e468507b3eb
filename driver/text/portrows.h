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

// "--list-ports [--json] [--sysfs DIR]" of km4410r-cmd and km4410r, once
// the options are read: prints the list on stdout and returns 0; for a DIR
// that is no folder, one line on stderr, "<program>: --sysfs DIR: no such
// folder", and returns 2 (usage).
int PrintPortList(const char* program, bool json, const char* sysRoot);
// The same from the program's arguments after its name, when --list-ports
// stands among them: only --json and --sysfs DIR may stand beside it, each
// once, in any order; anything else is refused with one line on stderr,
// "<program>: --list-ports takes only --json and --sysfs DIR", and 2.
int ListPortsCommand(const char* program, int count, const char* const* args);
}  // namespace km_text
