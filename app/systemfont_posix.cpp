#include "app/systemfont.h"

void UseSystemUiFont() {}
