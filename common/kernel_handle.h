#pragma once
#include <windows.h>

// Owns one kernel handle and closes it once with CloseHandle. `Empty` is what
// the call that opens it answers on failure, and so what "no handle" is: 0
// for most calls (threads, processes, tokens, events, sections), -1
// (INVALID_HANDLE_VALUE) for CreateFileW. Fill `handle` straight from that call.
template <INT_PTR Empty>
struct HandleHolder {
    HANDLE handle = reinterpret_cast<HANDLE>(Empty);

    HandleHolder() = default;
    explicit HandleHolder(HANDLE opened) : handle(opened) {}
    ~HandleHolder() { Close(); }
    HandleHolder(const HandleHolder&) = delete;
    HandleHolder& operator=(const HandleHolder&) = delete;

    bool Valid() const { return handle != reinterpret_cast<HANDLE>(Empty); }
    void Close()
    {
        if (Valid())
            CloseHandle(handle);
        handle = reinterpret_cast<HANDLE>(Empty);
    }
};

using KernelHandle = HandleHolder<0>;
using FileHandle = HandleHolder<-1>;
