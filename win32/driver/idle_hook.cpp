// tavonne-idle.dll: loaded by the test driver into the program it drives, it tells the driver
// when the program has handled everything the driver sent it and waits for more, and reports each
// program it starts through ShellExecuteEx; when asked, it tells where the program's windows lie,
// or makes the registry fail as a damaged one would.
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

void Write(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

// A field of an event line: "%" and control characters are written as "%" and two hex digits, so
// that no field holds a tab or a line break.
std::string Field(const wchar_t* text) {
    std::string field;
    for (unsigned char c : Utf8(text != nullptr ? text : L"")) {
        if (c == '%' || c < 0x20 || c == 0x7F) {
            char escaped[4];
            snprintf(escaped, sizeof escaped, "%%%02X", c);
            field += escaped;
        } else {
            field += static_cast<char>(c);
        }
    }
    return field;
}

// "event: launch<TAB>program<TAB>parameters" on the standard output the driver shares with the
// program, then the real launch.
BOOL WINAPI ReportedShellExecuteEx(SHELLEXECUTEINFOW* info) {
    if (info != nullptr)
        Write("event: launch\t" + Field(info->lpFile) + "\t" + Field(info->lpParameters) + "\n");
    return realShellExecuteEx(info);
}

// Points the program's import of `function` from `library` at `replacement`: the import's old
// address, or nullptr when the program does not import it.
void* Patch(const char* library, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
        if (_stricmp(reinterpret_cast<char*>(base + module->Name), library) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName =
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&addresses->u1.Function, sizeof(addresses->u1.Function), PAGE_READWRITE,
                           &protection);
            void* old = reinterpret_cast<void*>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof(addresses->u1.Function), protection,
                           &protection);
            return old;
        }
    }
    return nullptr;
}

void WatchLaunches() {
    realShellExecuteEx = reinterpret_cast<decltype(&ShellExecuteExW)>(
        Patch("shell32.dll", "ShellExecuteExW", reinterpret_cast<void*>(&ReportedShellExecuteEx)));
}

// The registry as a damaged one answers: nothing can be written.
LONG WINAPI FailingRegSetValueEx(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD) {
    return ERROR_ACCESS_DENIED;
}

std::string ClassOf(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return Utf8(name);
}

std::string Place(HWND window) {
    RECT place;
    GetWindowRect(window, &place);
    char text[64];
    snprintf(text, sizeof text, "%ld %ld %ld %ld", place.left, place.top, place.right,
             place.bottom);
    return text;
}

// What a control shows, beyond its place: a list's rows (their height, the first shown, how many
// show, the selected one, how many there are), and whether a label's text fits it in its font.
std::string Details(HWND control) {
    char text[128] = "";
    RECT inside;
    GetClientRect(control, &inside);
    const std::string type = ClassOf(control);
    if (_stricmp(type.c_str(), "ListBox") == 0) {
        const LRESULT height = SendMessageW(control, LB_GETITEMHEIGHT, 0, 0);
        snprintf(text, sizeof text, " rows %ld top %ld shown %ld selected %ld count %ld",
                 static_cast<long>(height),
                 static_cast<long>(SendMessageW(control, LB_GETTOPINDEX, 0, 0)),
                 static_cast<long>(height > 0 ? inside.bottom / height : 0),
                 static_cast<long>(SendMessageW(control, LB_GETCURSEL, 0, 0)),
                 static_cast<long>(SendMessageW(control, LB_GETCOUNT, 0, 0)));
    } else if (_stricmp(type.c_str(), "Static") == 0 &&
               (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) <= SS_RIGHT) {
        wchar_t label[512] = L"";
        GetWindowTextW(control, label, 512);
        HDC dc = GetDC(control);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        RECT needed = {0, 0, inside.right, 0};
        DrawTextW(dc, label, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        snprintf(text, sizeof text, " fits %d",
                 needed.right <= inside.right && needed.bottom <= inside.bottom ? 1 : 0);
    }
    return text;
}

// Each shown window of the program, topmost first, with its shown controls, and the device frame
// (its inside) with the phone's screen: "window CLASS L T R B", "control CLASS L T R B [details]",
// "frame L T R B", "screen L T R B".
void ReportLayout() {
    std::string report;
    const DWORD thread = GetCurrentThreadId();
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (GetWindowThreadProcessId(w, nullptr) != thread || !IsWindowVisible(w))
            continue;
        if (ClassOf(w) == "TavonnePhone") {
            RECT inside;
            GetClientRect(w, &inside);
            MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&inside), 2);
            char frame[64];
            snprintf(frame, sizeof frame, "frame %ld %ld %ld %ld\n", inside.left, inside.top,
                     inside.right, inside.bottom);
            report += frame;
            if (HWND glass = FindWindowExW(w, nullptr, L"Static", nullptr))
                report += "screen " + Place(glass) + "\n";
            continue;
        }
        report += "window " + ClassOf(w) + " " + Place(w) + "\n";
        for (HWND child = GetWindow(w, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (IsWindowVisible(child))
                report += "control " + ClassOf(child) + " " + Place(child) + Details(child) + "\n";
        }
    }
    Write(report);
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
    static const UINT layout = RegisterWindowMessageW(L"TavonneDriverLayout");
    static const UINT breakRegistry = RegisterWindowMessageW(L"TavonneDriverBreakRegistry");
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == layout &&
        message->hwnd == nullptr) {
        ReportLayout();
        message->message = WM_NULL;
    }
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == breakRegistry &&
        message->hwnd == nullptr) {
        Patch("advapi32.dll", "RegSetValueExW", reinterpret_cast<void*>(&FailingRegSetValueEx));
        message->message = WM_NULL;
    }
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == marker &&
        message->hwnd == nullptr) {
        const DWORD pending = HIWORD(GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE | QS_INPUT));
        if (pending != 0) {
            PostThreadMessageW(GetCurrentThreadId(), marker, message->wParam, 0);
        } else {
            // Idle means drawn too: what is left to paint is painted before the driver reads it.
            const DWORD thread = GetCurrentThreadId();
            for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
                if (GetWindowThreadProcessId(w, nullptr) == thread && IsWindowVisible(w))
                    RedrawWindow(w, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            }
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
