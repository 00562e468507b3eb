#include "driver/portlist.h"

#include <cstdio>
#include <cstring>

void DescribePort(const PortInfo& p, char* out, unsigned size) {
  if (!out || size == 0) return;
  char details[200] = "";
  const char* maker = p.manufacturer[0] ? p.manufacturer : "";
  if (p.vendorId[0])
    std::snprintf(details, sizeof details, "%s%s%s:%s%s%s", maker, maker[0] ? " " : "", p.vendorId, p.productId,
                  p.serial[0] ? ", " : "", p.serial);
  else if (p.driver[0])
    std::snprintf(details, sizeof details, "%s", p.driver);
  const char* what = p.product[0] ? p.product : (std::strcmp(p.kind, "virtual") == 0 ? "virtual port" : "");
  if (what[0] && details[0])
    std::snprintf(out, size, "%s \xE2\x80\x94 %s (%s)", p.path, what, details);
  else if (what[0] || details[0])
    std::snprintf(out, size, "%s \xE2\x80\x94 %s", p.path, what[0] ? what : details);
  else
    std::snprintf(out, size, "%s", p.path);
}
