// tavonne-idle.dll: loaded by the test driver into the program it drives, it tells the driver
// when the program has handled everything the driver sent it and waits for more, and reports each
// program it starts through ShellExecuteEx.
//
// The driver posts a marker message to the program's thread after each key. When the program
// takes the marker from its queue, the messages posted before it have been handled; if handling
// them posted more, the marker goes to the back of the queue again. Once it comes out of an empty
// queue, the driver's event is set.
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "wide_text.h"

namespace {

decltype(&ShellExecuteExW) realShellExecuteEx = nullptr;

// "event: launch<TAB>program<TAB>parameters" on the standard output the driver shares with the
// program, then the real launch.
BOOL WINAPI ReportedShellExecuteEx(SHELLEXECUTEINFOW* info) {
    if (info != nullptr) {
        const std::string line = "event: launch\t" + Utf8(info->lpFile ? info->lpFile : L"") +
                                 "\t" + Utf8(info->lpParameters ? info->lpParameters : L"") + "\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()),
                  &written, nullptr);
    }
    return realShellExecuteEx(info);
}

// Points the program's import of ShellExecuteExW at ReportedShellExecuteEx.
void WatchLaunches() {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         library->Name != 0; ++library) {
        if (_stricmp(reinterpret_cast<char*>(base + library->Name), "shell32.dll") != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName =
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), "ShellExecuteExW") != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&addresses->u1.Function, sizeof(addresses->u1.Function), PAGE_READWRITE,
                           &protection);
            realShellExecuteEx =
                reinterpret_cast<decltype(&ShellExecuteExW)>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(&ReportedShellExecuteEx);
            VirtualProtect(&addresses->u1.Function, sizeof(addresses->u1.Function), protection,
                           &protection);
        }
    }
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        WatchLaunches();
    return TRUE;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK
    IdleHook(int code, WPARAM removal, LPARAM lParam) {
    static const UINT marker = RegisterWindowMessageW(L"TavonneDriverIdle");
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == marker &&
        message->hwnd == nullptr) {
        const DWORD pending = HIWORD(GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE | QS_INPUT));
        if (pending != 0) {
            PostThreadMessageW(GetCurrentThreadId(), marker, message->wParam, 0);
        } else {
            wchar_t name[64];
            swprintf(name, 64, L"Local\\TavonneDriverIdle%lu", GetCurrentProcessId());
            if (HANDLE idle = OpenEventW(EVENT_MODIFY_STATE, FALSE, name)) {
                SetEvent(idle);
                CloseHandle(idle);
            }
        }
        message->message = WM_NULL;
    }
    return CallNextHookEx(nullptr, code, removal, lParam);
}
