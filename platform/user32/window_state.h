// The window system's own state: the window table and classes, the queue, focus and
// foreground. Kept by window_manager.cpp and emptied by the test library.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
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

// A window's handle: its process id in the high half and, below, a serial that counts up for
// the life of the process, four bits up so that no handle is a small number.
inline uintptr_t HandleValue(uint64_t process, uint64_t serial) {
    return static_cast<uintptr_t>(process << 32 | serial << 4);
}
inline uint64_t SerialOf(uintptr_t handle) {
    return (handle & 0xFFFFFFFF) >> 4;
}
inline uint64_t ProcessOfHandle(uintptr_t handle) {
    return handle >> 32;
}

// The live windows by handle. The handle's serial is the window's place here: finding a window
// is one comparison, and every message a window gets begins with finding it.
class WindowTable {
  public:
    const std::shared_ptr<Window>* Find(HWND handle) const {
        const auto value = reinterpret_cast<uintptr_t>(handle);
        const size_t place = Place(value);
        if (value == 0 || place >= slots_.size() || slots_[place].handle != value)
            return nullptr;
        return &slots_[place].window;
    }
    void Add(HWND handle, std::shared_ptr<Window> window) {
        const auto value = reinterpret_cast<uintptr_t>(handle);
        const size_t place = Place(value);
        if (place >= slots_.size())
            slots_.resize(place + 1);
        slots_[place] = Slot{value, std::move(window)};
    }
    void Erase(HWND handle) {
        if (Find(handle) != nullptr)
            slots_[Place(reinterpret_cast<uintptr_t>(handle))] = Slot{};
    }
    void Clear() { slots_.clear(); }

  private:
    struct Slot {
        uintptr_t handle = 0;
        std::shared_ptr<Window> window;
    };
    static size_t Place(uintptr_t handle) { return static_cast<size_t>(SerialOf(handle)); }

    std::vector<Slot> slots_;
};

struct System {
    WindowTable windows;
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
