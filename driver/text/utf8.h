// CP1251 <-> UTF-8 lives in common/ (the simulator uses it too).
#pragma once
#include "common/utf8.h"
