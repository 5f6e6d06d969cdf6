#include "app/paint.h"

// Placeholder until splash rendering lands: a plain fill with the window colour.
void PaintSplash(HDC target, const RECT&, const RECT& update, const SplashPictures&, const SplashProgress&)
{
    FillRect(target, &update, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
}
