#pragma once
#include <windows.h>

#include "common/joined_thread.h"
#include "splash/gdiplus_flat.h"

// GDI+ started and the splash's three pictures decoded, each once, on a thread
// of its own while the entry makes the window: the first paint needs them,
// and nothing else the window's making does.
struct LoadedPictures {
    ULONG_PTR gdiplusToken = 0;  // 0: GDI+ did not start, and both PNGs are null
    HBITMAP background = nullptr;
    GpBitmapPtr track;
    GpBitmapPtr fill;

    LoadedPictures() = default;
    // Releases what was not handed on: the pictures, then GDI+.
    ~LoadedPictures();
    LoadedPictures(const LoadedPictures&) = delete;
    LoadedPictures& operator=(const LoadedPictures&) = delete;
};

// What is loaded and the thread loading it, which is declared last so it is
// joined before anything it loads is released.
struct PictureLoad {
    LoadedPictures pictures;
    JoinedThread loader;
};

// Starts loading from the module's resources; loads on the calling thread
// when no thread can be started.
void StartPictureLoad(PictureLoad& load, HINSTANCE module);

// Waits until the loading is done; the pictures are then the caller's to take.
LoadedPictures& FinishPictureLoad(PictureLoad& load);
