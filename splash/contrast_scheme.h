#pragma once
// A user who turns high contrast on cannot read ordinary colours: standard
// controls follow the scheme, and the splash, drawn by itself, must do the
// same. It then draws no pictures, only the scheme's colours.
#include <windows.h>

// Whether high contrast is on, and the colours of the user's scheme.
struct ContrastScheme {
    bool on = false;
    COLORREF window = 0;
    COLORREF windowText = 0;
    COLORREF highlight = 0;
};

bool operator==(const ContrastScheme& a, const ContrastScheme& b);
bool operator!=(const ContrastScheme& a, const ContrastScheme& b);

// SPI_GETHIGHCONTRAST and GetSysColor.
ContrastScheme SystemContrastScheme();

// Where the splash reads the scheme: the system's by default. Replaceable
// because Wine 8 never reports high contrast (SPI_GETHIGHCONTRAST always
// answers off and SPI_SETHIGHCONTRAST fails), so tests answer it instead.
using ContrastReader = ContrastScheme (*)();
extern ContrastReader ReadContrastScheme;
