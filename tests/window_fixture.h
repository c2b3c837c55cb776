// Shared set-up of the window system tests: a clean window system in a temporary device, the
// tests' own resources (data/window_test.rc), scripted keys, and a dialog procedure that
// records what it is sent.
#pragma once

#include <windows.h>
#include <aygshell.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "data/window_test.h"
#include "platform/user32/keys.h"
#include "platform/kernel32/resources.h"
#include "platform/user32/window_manager.h"
#include "support/temp_device.h"

struct Received {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// What RecordingProc was sent, and what it does beyond answering TRUE to WM_INITDIALOG.
inline std::vector<Received> received;
inline std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> onMessage;

inline INT_PTR CALLBACK RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    received.push_back({dialog, message, wParam, lParam});
    if (onMessage)
        return onMessage(dialog, message, wParam, lParam);
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

class WindowTest : public DeviceTest {
  protected:
    WindowTest() {
        wm::ResetForTesting();
        received.clear();
        onMessage = nullptr;
        module = resources::ModuleNamed("window_test");
        // Running out of scripted keys ends the loops; a test that expects otherwise says so.
        keys::SetInputExhaustedHandler([this] { ++inputRanOut; });
    }
    ~WindowTest() override {
        wm::ResetForTesting();
        onMessage = nullptr;
    }

    LPCDLGTEMPLATEW Template(int id) const {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCE(id), RT_DIALOG);
        EXPECT_NE(found, nullptr) << "dialog " << id;
        return static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(module, found)));
    }

    // Runs a dialog modally with RecordingProc while the given keys are typed.
    INT_PTR Run(int id, std::vector<keys::Key> typed, LPARAM initParam = 0) {
        keys::SetInputSource(keys::FromList(std::move(typed)));
        return DialogBoxIndirectParamW(module, Template(id), nullptr, RecordingProc, initParam);
    }

    // A dialog that stays open (modeless) so that a test can press keys and look in between.
    HWND Open(int id, LPARAM initParam = 0) {
        HWND dialog =
            CreateDialogIndirectParamW(module, Template(id), nullptr, RecordingProc, initParam);
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }

    // The (command, notification) pairs of the WM_COMMAND messages received so far.
    static std::vector<std::pair<int, int>> Commands() {
        std::vector<std::pair<int, int>> commands;
        for (const Received& r : received) {
            if (r.message == WM_COMMAND)
                commands.emplace_back(LOWORD(r.wParam), HIWORD(r.wParam));
        }
        return commands;
    }

    // Whether RecordingProc was sent this message.
    static bool WasSent(UINT message) {
        for (const Received& r : received) {
            if (r.message == message)
                return true;
        }
        return false;
    }

    static int CountCommands(int id, int code) {
        int count = 0;
        for (auto [command, notification] : Commands())
            count += command == id && notification == code;
        return count;
    }

    static std::u16string TextOf(HWND window) {
        WCHAR buffer[256] = {};
        GetWindowTextW(window, buffer, 256);
        return buffer;
    }

    static int CurrentOf(HWND dialog, int id) {
        return static_cast<int>(SendDlgItemMessageW(dialog, id, LB_GETCURSEL, 0, 0));
    }

    static void Fill(HWND dialog, int id, std::vector<std::u16string> entries) {
        for (const std::u16string& entry : entries)
            SendDlgItemMessageW(dialog, id, LB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(entry.c_str()));
    }

    HINSTANCE module = nullptr;
    int inputRanOut = 0;
};
