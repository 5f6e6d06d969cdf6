#pragma once
// The display's scale: Windows gives it as dots per inch, 96 being 100 %.
// The splash is laid out in 96-DPI pixels and every length is scaled to the
// window's DPI, so text, bar and glyph are drawn at the display's own
// resolution rather than stretched by the system.
#include <windows.h>

const int DefaultDpi = 96;

// value (a length at 96 DPI) at dpi, rounded to the nearest whole pixel.
int ScaledPixels(int value, int dpi);

// The DPI of the monitor the window is on: GetDpiForWindow where the system
// has it (Windows 10 1607 on, looked up at run time so the program still
// starts on Windows 7), else the screen's LOGPIXELSX; 96 when neither answers.
int WindowDpi(HWND hwnd);
