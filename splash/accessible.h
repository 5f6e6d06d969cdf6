#pragma once
// The splash as screen readers and other assistive programs find it. It is
// painted by hand, so it answers WM_GETOBJECT for its client area with an
// IAccessible object of its own (UI Automation reads it through its MSAA
// bridge): the client, named by the heading, with two simple children, the
// progress bar (value: the percentage shown, description: the speed shown)
// and the close glyph as a push button.
#include <windows.h>

#include "splash/progress.h"

// The children's ids (CHILDID_SELF, 0, is the client itself).
const LONG ProgressBarChild = 1;
const LONG CloseButtonChild = 2;

extern const wchar_t ProgressBarName[];         // 下载进度
extern const wchar_t CloseButtonName[];         // 关闭
extern const wchar_t CloseButtonAction[];       // 按下
extern const wchar_t CloseButtonShortcut[];     // Esc

class SplashAccessible;

// What one splash window keeps for assistive programs, on its UI thread: the
// COM apartment and the object, from the first WM_GETOBJECT on, and the
// percentage last announced. The apartment is left only when this goes, after
// the message loop: a client's release may still be on its way when the
// window is destroyed, and Wine's COM faults when the apartment is left with
// a call waiting in the queue.
struct SplashAccessibility {
    SplashAccessibility() = default;
    ~SplashAccessibility();
    SplashAccessibility(const SplashAccessibility&) = delete;
    SplashAccessibility& operator=(const SplashAccessibility&) = delete;

    HRESULT apartment = E_FAIL;  // CoInitializeEx's answer (E_FAIL until asked); balanced when it succeeded
    SplashAccessible* object = nullptr;  // one reference, ours
    int percentAnnounced = -1;  // -1: no paint yet
    bool disconnected = false;  // the window is being destroyed: no new object
};

// WM_GETOBJECT: the object for OBJID_CLIENT, made on the first request and
// reading `state` (the paint's atomics) and the window on this thread; any
// other object, a failure, or any request once DisconnectAccessibility ran,
// goes to DefWindowProcW.
LRESULT AnswerGetObject(SplashAccessibility& access, HWND hwnd, WPARAM wParam, LPARAM lParam,
                        const DownloadProgressState& state);

// After a paint: an EVENT_OBJECT_VALUECHANGE for the progress bar when the
// whole percentage shown differs from the one last announced; nothing for the
// first paint, a repaint or a step within the same percent.
void AnnounceShownProgress(SplashAccessibility& access, HWND hwnd, const DownloadProgressState& state);

// After the window was shown or hidden (hidden while the setup program runs):
// an EVENT_OBJECT_STATECHANGE for the client, whose state then says so.
void AnnounceVisibility(HWND hwnd);

// WM_DESTROY: the object no longer reads the window (every call answers
// RPC_E_DISCONNECTED), the references other processes hold are cut and ours
// is released.
void DisconnectAccessibility(SplashAccessibility& access);
