#include "install/failure_notice.h"

const wchar_t DownloadFailedMessage[] = L"\u4e0b\u8f7d\u5931\u8d25\uff0c\u8bf7\u68c0\u67e5\u7f51\u7edc\u8fde\u63a5\u6216\u8054\u7cfb\u5ba2\u670d\u3002";
const wchar_t LaunchFailedMessage[] = L"\u5b89\u88c5\u7a0b\u5e8f\u542f\u52a8\u5931\u8d25\uff0c\u8bf7\u68c0\u67e5\u5b89\u88c5\u5305\u6216\u8054\u7cfb\u5ba2\u670d\u3002";

// Placeholder until the failure notice lands: shows nothing.
void ShowFailureNotice(HWND, const wchar_t*, const wchar_t*) {}
std::wstring ComposeNoticeText(const wchar_t* message, bool) { return message; }
