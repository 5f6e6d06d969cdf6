#pragma once
// Finding and answering the notice box from a helper thread, and reading what
// the recording browser of the test prefix was asked to open.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "install/failure_notice.h"

inline HWND WaitForNoticeBox(int milliseconds = 20000)
{
    for (int waited = 0; waited < milliseconds; waited += 50) {
        // Shown only once its text is in: a box found while it is being made
        // would read empty. Every box of the caption is looked at, so one on
        // its way out cannot hide the new one.
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", NoticeCaption)) != nullptr)
            if (IsWindowVisible(box))
                return box;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

inline std::wstring BoxText(HWND box)
{
    wchar_t text[512] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 512);
    return text;
}

inline void ClickBoxButton(HWND box, int id) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

// The recorder runs on the Unix side and writes to the prefix's browser.log,
// which $TOLVIN_BROWSER_LOG names; Wine maps the Unix root to Z:.
inline std::string BrowserLogPath()
{
    const char* log = std::getenv("TOLVIN_BROWSER_LOG");
    return log ? std::string("Z:") + log : std::string();
}

inline void ClearBrowserLog() { std::ofstream(BrowserLogPath(), std::ios::trunc).close(); }

inline std::vector<std::string> BrowserOpens()
{
    std::vector<std::string> lines;
    std::ifstream in(BrowserLogPath());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The browser is started as a separate process, so its record comes a little later.
inline bool WaitForBrowserOpens(size_t count, int seconds = 20)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (BrowserOpens().size() < count) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}
