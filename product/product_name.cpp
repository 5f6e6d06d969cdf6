#include "product/product_name.h"

// tolvin音频格式转换器: both spellings of the one name, kept side by side so an
// edit of one is seen beside the other (a test compares them).
const char ProductName[] = "tolvin\xE9\x9F\xB3\xE9\xA2\x91\xE6\xA0\xBC\xE5\xBC\x8F\xE8\xBD\xAC\xE6\x8D\xA2\xE5\x99\xA8";
const wchar_t ProductDisplayName[] = L"tolvin\u97F3\u9891\u683C\u5F0F\u8F6C\u6362\u5668";

const wchar_t InstallerTitle[] = L"Tolvin Installer";
