#include "splash/contrast_scheme.h"

bool operator==(const ContrastScheme& a, const ContrastScheme& b)
{
    return a.on == b.on && a.window == b.window && a.windowText == b.windowText && a.highlight == b.highlight;
}

bool operator!=(const ContrastScheme& a, const ContrastScheme& b)
{
    return !(a == b);
}

ContrastScheme SystemContrastScheme()
{
    HIGHCONTRASTW setting = {};
    setting.cbSize = sizeof(setting);
    ContrastScheme scheme;
    scheme.on = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(setting), &setting, 0) &&
                (setting.dwFlags & HCF_HIGHCONTRASTON) != 0;
    // Read with the setting off too: a splash whose background picture did
    // not load shows the window colour, and its cache must follow a change.
    scheme.window = GetSysColor(COLOR_WINDOW);
    scheme.windowText = GetSysColor(COLOR_WINDOWTEXT);
    scheme.highlight = GetSysColor(COLOR_HIGHLIGHT);
    return scheme;
}

ContrastReader ReadContrastScheme = SystemContrastScheme;
