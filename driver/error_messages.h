// The error messages are the rows of the flag table (driver/flags.h) that
// have a text; this name stays for the callers that know them as such.
#pragma once
#include "driver/flags.h"

using ErrorMessage = FlagInfo;
