#include "install/failure_notice.h"

#include <objbase.h>

#include <cwchar>

#include "build_settings.h"
#include "common/text_encoding.h"
#include "log/support_log.h"
#include "net/free_space.h"

const wchar_t DownloadFailedMessage[] = L"\u4e0b\u8f7d\u5931\u8d25\uff0c\u8bf7\u68c0\u67e5\u7f51\u7edc\u8fde\u63a5\u6216\u8054\u7cfb\u5ba2\u670d\u3002";
const wchar_t LaunchFailedMessage[] = L"\u5b89\u88c5\u7a0b\u5e8f\u542f\u52a8\u5931\u8d25\uff0c\u8bf7\u68c0\u67e5\u5b89\u88c5\u5305\u6216\u8054\u7cfb\u5ba2\u670d\u3002";

// 磁盘空间不足，下载至少需要 N MB 可用空间，请释放磁盘空间后重新运行安装程序。
const wchar_t DiskFullBefore[] =
    L"\u78c1\u76d8\u7a7a\u95f4\u4e0d\u8db3\uff0c\u4e0b\u8f7d\u81f3\u5c11\u9700\u8981 ";
const wchar_t DiskFullAfter[] = L" MB \u53ef\u7528\u7a7a\u95f4\uff0c\u8bf7\u91ca\u653e\u78c1\u76d8\u7a7a\u95f4"
                                L"\u540e\u91cd\u65b0\u8fd0\u884c\u5b89\u88c5\u7a0b\u5e8f\u3002";
// 电脑的日期和时间不正确（当前为 YYYY-MM-DD），请设置正确的日期和时间后重新运行安装程序。
const wchar_t ClockBehindBefore[] =
    L"\u7535\u8111\u7684\u65e5\u671f\u548c\u65f6\u95f4\u4e0d\u6b63\u786e\uff08\u5f53\u524d\u4e3a ";
const wchar_t ClockBehindAfter[] = L"\uff09\uff0c\u8bf7\u8bbe\u7f6e\u6b63\u786e\u7684\u65e5\u671f\u548c\u65f6\u95f4"
                                   L"\u540e\u91cd\u65b0\u8fd0\u884c\u5b89\u88c5\u7a0b\u5e8f\u3002";

const wchar_t NoticeCaption[] = L"\u7cfb\u7edf\u63d0\u793a";  // 系统提示
const wchar_t SupportAddress[] = L"https://" TOLVIN_SUPPORT_HOST;

namespace {

// 已为您打开下载页面，请手动安装。 and a blank line
const wchar_t PageSentence[] =
    L"\u5df2\u4e3a\u60a8\u6253\u5f00\u4e0b\u8f7d\u9875\u9762\uff0c\u8bf7\u624b\u52a8\u5b89\u88c5\u3002\n\n";
// 点击"确定"联系客服 / 点击"取消"稍后处理, with ASCII quotation marks
const wchar_t ButtonHint[] =
    L"\u70b9\u51fb\"\u786e\u5b9a\"\u8054\u7cfb\u5ba2\u670d\n\u70b9\u51fb\"\u53d6\u6d88\"\u7a0d\u540e\u5904\u7406";

// 请在浏览器中打开下载页面，手动安装： and a line feed
const wchar_t PageAddressLine[] =
    L"\u8bf7\u5728\u6d4f\u89c8\u5668\u4e2d\u6253\u5f00\u4e0b\u8f7d\u9875\u9762\uff0c\u624b\u52a8\u5b89\u88c5\uff1a\n";
// 联系客服请访问： and a line feed
const wchar_t SupportAddressLine[] = L"\u8054\u7cfb\u5ba2\u670d\u8bf7\u8bbf\u95ee\uff1a\n";

// ShellExecuteW (run unelevated) may hand a URL to a shell extension, which
// needs COM on the calling thread, and the worker thread has none of its own.
// The desktop shell's route brings its own thread and apartment.
struct ComApartment {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ~ComApartment()
    {
        if (SUCCEEDED(result))
            CoUninitialize();
    }
};

// Sent, not posted: the owner has taken it in before the user can see the box.
int ShowNoticeBox(HWND hwnd, const std::wstring& text, UINT type)
{
    SendMessageW(hwnd, WM_FAILURE_NOTICE_SHOWN, 0, 0);
    return MessageBoxW(hwnd, text.c_str(), NoticeCaption, type);
}

}  // namespace

std::wstring DiskFullMessage(std::uint64_t length)
{
    // The room check's own figure, rounded up: a user who frees the number
    // shown must pass it.
    const std::uint64_t bytes = RoomNeededFor(length);
    const std::uint64_t mib = 1024 * 1024;
    const std::uint64_t megabytes = bytes / mib + (bytes % mib != 0 ? 1 : 0);
    return DiskFullBefore + std::to_wstring(megabytes) + DiskFullAfter;
}

std::wstring ClockBehindMessage(const SYSTEMTIME& date)
{
    wchar_t shown[16] = {};
    std::swprintf(shown, 16, L"%04u-%02u-%02u", date.wYear, date.wMonth, date.wDay);
    return ClockBehindBefore + std::wstring(shown) + ClockBehindAfter;
}

std::wstring ComposeNoticeText(const wchar_t* message, bool withDownloadPage)
{
    std::wstring text = message;
    text += L"\n\n";
    if (withDownloadPage)
        text += PageSentence;
    text += ButtonHint;
    return text;
}

std::wstring ComposeAddressNoticeText(const wchar_t* message, const wchar_t* downloadPage)
{
    std::wstring text = message;
    text += L"\n\n";
    text += PageAddressLine;
    text += downloadPage;
    text += L"\n\n";
    text += SupportAddressLine;
    text += SupportAddress;
    return text;
}

void ShowFailureNotice(HWND hwnd, const wchar_t* message, const wchar_t* downloadPage, ShellRoute route)
{
    ComApartment com;
    // The browser is already opening while the user reads the box.
    if (downloadPage && !OpenAsUser(downloadPage, route)) {
        // The support site would fail the same way: the box promises nothing.
        LogStep("notice: " + WideToUtf8(message) + " (no page opened: addresses shown)");
        std::wstring text = ComposeAddressNoticeText(message, downloadPage);
        ShowNoticeBox(hwnd, text, MB_OK | MB_ICONERROR);
        return;
    }
    LogStep("notice: " + WideToUtf8(message) + (downloadPage ? " (download page opened)" : ""));
    std::wstring text = ComposeNoticeText(message, downloadPage != nullptr);
    if (ShowNoticeBox(hwnd, text, MB_OKCANCEL | MB_ICONERROR) != IDOK) {
        LogStep("notice answered Cancel");
        return;
    }
    LogStep("notice answered OK: support site");
    if (!OpenAsUser(SupportAddress, route)) {
        // The user asked for the site and nothing opened: at least the address to type.
        LogStep("support site not opened: address shown");
        const std::wstring address = std::wstring(SupportAddressLine) + SupportAddress;
        ShowNoticeBox(hwnd, address, MB_OK | MB_ICONINFORMATION);
    }
}
