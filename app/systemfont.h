// The window's font: the system's own UI font. One source per platform.
#pragma once

// Called once the application object exists. On Windows the application font
// takes the family of the system's message font (Segoe UI on Windows 10 and
// 11, Tahoma under Wine), so that no substitute of the default "MS Shell Dlg
// 2" that lacks Cyrillic or draws line edits wrongly is picked (a family the
// font database does not have is passed over for the next); elsewhere the
// platform's font stays.
void UseSystemUiFont();
