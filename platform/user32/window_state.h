// The window system's own state: the window table and classes, the queue, focus and
// foreground. Kept by window_manager.cpp and emptied by the test library.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/user32/window_manager.h"

namespace wm {

struct WindowClass {
    std::u16string name;
    ATOM atom = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    bool system = false;
};

struct System {
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    std::vector<HWND> topLevels;  // front to back
    HWND foreground = nullptr;
    HWND focus = nullptr;
    HWND keyCapture = nullptr;
    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    std::vector<WindowClass> classes;
    ATOM nextAtom = 0xC000;
    RemoteWindows remote;
};

// The one window system of the process.
System& Sys();

}  // namespace wm
