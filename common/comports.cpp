#include "common/comports.h"

bool ParseComNumber(const char* digits, int* number) {
  if (!digits || !number || digits[0] < '1' || digits[0] > '9') return false;
  int n = 0;
  for (const char* p = digits; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    n = n * 10 + (*p - '0');
    if (n > kMaxComPort) return false;  // also stops long digit runs before they overflow
  }
  *number = n;
  return true;
}
