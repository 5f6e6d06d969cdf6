#include "splash/taskbar_progress.h"

#include <shobjidl.h>

namespace {

TBPFLAG FlagOf(TaskbarShow show)
{
    switch (show) {
    case TaskbarShow::Indeterminate:
        return TBPF_INDETERMINATE;
    case TaskbarShow::Fraction:
        return TBPF_NORMAL;
    case TaskbarShow::Error:
        return TBPF_ERROR;
    default:
        return TBPF_NOPROGRESS;
    }
}

void Give(TaskbarButton& button, HWND hwnd, const TaskbarState& state)
{
    const bool newShow = !button.applied || button.given.show != state.show;
    // The state before the value: a value given in the indeterminate state
    // would turn it to the normal one, and the error state keeps its colour.
    if (newShow)
        button.list->SetProgressState(hwnd, FlagOf(state.show));
    const bool filled = state.show == TaskbarShow::Fraction || state.show == TaskbarShow::Error;
    if (filled && (newShow || button.given.percent != state.percent))
        button.list->SetProgressValue(hwnd, static_cast<ULONGLONG>(state.percent), 100);
    button.given = state;
    button.applied = true;
}

}  // namespace

bool SameTaskbarState(const TaskbarState& a, const TaskbarState& b)
{
    return a.show == b.show && a.percent == b.percent;
}

TaskbarState TaskbarStateFor(bool windowShown, bool failureShown, std::uint64_t received, std::uint64_t total)
{
    if (!windowShown)
        return TaskbarState{TaskbarShow::Nothing, 0};
    const int percent = PercentShown(ProgressRatio(received, total));
    if (failureShown)
        return TaskbarState{TaskbarShow::Error, percent > 0 ? percent : 100};
    if (total == 0)
        return TaskbarState{TaskbarShow::Indeterminate, 0};
    return TaskbarState{TaskbarShow::Fraction, percent};
}

void OpenTaskbarButton(TaskbarButton& button, HWND hwnd)
{
    if (button.list)
        return;
    // Registered by name: the same number Explorer sends. Explorer runs with
    // the user's rights, so an elevated window must let its message in.
    button.createdMessage = RegisterWindowMessageW(L"TaskbarButtonCreated");
    if (button.createdMessage != 0)
        ChangeWindowMessageFilterEx(hwnd, button.createdMessage, MSGFLT_ALLOW, nullptr);
    ITaskbarList3* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&list))) ||
        !list)
        return;
    if (FAILED(list->HrInit())) {
        list->Release();
        return;
    }
    button.list = list;
}

void CloseTaskbarButton(TaskbarButton& button)
{
    if (button.list)
        button.list->Release();
    button.list = nullptr;
    button.applied = false;
}

void FollowOnTaskbarButton(TaskbarButton& button, HWND hwnd, const DownloadProgressState& progress)
{
    if (!button.list)
        return;
    const TaskbarState state =
        TaskbarStateFor(button.windowShown, button.failureShown, progress.receivedBytes.load(std::memory_order_relaxed),
                        progress.totalBytes.load(std::memory_order_relaxed));
    if (button.applied && SameTaskbarState(state, button.given))
        return;
    Give(button, hwnd, state);
}

void RenewTaskbarButton(TaskbarButton& button, HWND hwnd, const DownloadProgressState& progress)
{
    button.applied = false;
    FollowOnTaskbarButton(button, hwnd, progress);
}
