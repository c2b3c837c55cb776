// tavonne-driver: runs the Windows program and speaks the script protocol of the Linux build on
// its standard input and output, so that the same end-to-end tests drive both:
//   tavonne-driver PROGRAM.exe
// One key a line (SOFT1 SOFT2 UP DOWN LEFT RIGHT ACTION BACK 0-9 * #), TYPE text, SNAP (the
// screen's text, then "----"), LAYOUT (the places of the program's windows, then "----"),
// BREAK REGISTRY (its registry writes fail from then on), "event:
// launch<TAB>program<TAB>parameters" when the program starts another (the hook it puts into the
// program reports these). After each key the driver waits until the program has handled it and
// waits for input again. When input ends with the program running, it is ended and the status is 2;
// otherwise the status is the program's own.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "wide_text.h"

namespace {

const DWORD kKeyTimeout = 30000;

struct Program {
    HANDLE process = nullptr;
    DWORD id = 0;
    DWORD thread = 0;
    HANDLE idle = nullptr;
    UINT marker = 0;
};

void Print(const std::string& text) {
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

// Standard input, read by a thread of its own so that the driver can wait for a line and for the
// program's end at once.
class Input {
  public:
    Input() : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        CreateThread(nullptr, 0, Read, this, 0, nullptr);
    }
    HANDLE Ready() const { return ready_; }
    // The next line, or nullopt at the end of input; only once Ready() is set.
    std::optional<std::string> Take() {
        std::lock_guard lock(mutex_);
        if (lines_.empty())
            return std::nullopt;
        std::string line = lines_.front();
        lines_.pop_front();
        if (lines_.empty() && !ended_)
            ResetEvent(ready_);
        return line;
    }
    bool Ended() {
        std::lock_guard lock(mutex_);
        return lines_.empty() && ended_;
    }

  private:
    static DWORD WINAPI Read(void* self) {
        Input& input = *static_cast<Input*>(self);
        std::string pending;
        char chunk[4096];
        DWORD got = 0;
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        while (ReadFile(in, chunk, sizeof chunk, &got, nullptr) && got > 0) {
            pending.append(chunk, got);
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                input.Add(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
        if (!pending.empty())
            input.Add(pending);
        std::lock_guard lock(input.mutex_);
        input.ended_ = true;
        SetEvent(input.ready_);
        return 0;
    }
    void Add(std::string line) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
        SetEvent(ready_);
    }

    HANDLE ready_;
    std::mutex mutex_;
    std::deque<std::string> lines_;
    bool ended_ = false;
};

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

bool IsClass(HWND window, const wchar_t* name) {
    return lstrcmpiW(ClassOf(window).c_str(), name) == 0;
}

std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 5000, &length);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_BLOCK, 5000, &copied);
    text.resize(copied);
    return text;
}

std::wstring ListEntry(HWND list, LRESULT row) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, row, 0);
    if (length < 0)
        return L"";
    std::wstring text(length + 1, L'\0');
    const LRESULT copied =
        SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? copied : 0);
    return text;
}

// The screen's lines as the phone shows them: its title, its controls from top to bottom (unless
// an open list covers them), what a pop-up over it shows, and its soft keys.
class Screen {
  public:
    explicit Screen(HWND focus) : focus_(focus) {}

    void Window(HWND window, const std::vector<HWND>& popups) {
        Line(TextOf(window));
        bool covered = false;
        for (HWND popup : popups) {
            covered = covered || GetPropW(popup, L"TavonneFullList") != nullptr;
            if (HWND beneath = static_cast<HWND>(GetPropW(popup, L"TavonneReturnFocus")))
                focus_ = beneath;
        }
        std::wstring bar;
        std::vector<std::pair<RECT, HWND>> controls;
        for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (!IsWindowVisible(child))
                continue;
            RECT place;
            GetWindowRect(child, &place);
            if (IsClass(child, L"TavonneMenuBar"))
                bar = TextOf(child);
            else if (!covered)
                controls.push_back({place, child});
        }
        std::stable_sort(controls.begin(), controls.end(), [](const auto& a, const auto& b) {
            return a.first.top != b.first.top ? a.first.top < b.first.top
                                              : a.first.left < b.first.left;
        });
        for (const auto& [place, control] : controls)
            Control(window, control);
        for (HWND popup : popups)
            ShownRows(GetWindow(popup, GW_CHILD));
        if (!bar.empty()) {
            const size_t tab = bar.find(L'\t');
            Line(tab == bar.npos ? bar : bar.substr(0, tab) + L"    " + bar.substr(tab + 1));
        }
    }

    const std::string& Text() const { return text_; }

  private:
    // One line, marked with ">" when it has the focus or is the selected entry.
    void Line(const std::wstring& line, bool marked = false) {
        text_ += marked ? '>' : ' ';
        text_ += Utf8(line);
        text_ += '\n';
    }

    void List(HWND list) {
        const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
        for (LRESULT row = 0; row < count; ++row)
            Line(ListEntry(list, row), row == selected);
    }

    // The rows of a pop-up's list that show.
    void ShownRows(HWND list) {
        const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
        const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
        const LRESULT height = std::max<LRESULT>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), 1);
        RECT inside;
        GetClientRect(list, &inside);
        const LRESULT end = std::min<LRESULT>(count, top + inside.bottom / height);
        for (LRESULT row = top; row < end; ++row)
            Line(ListEntry(list, row), row == selected);
    }

    static HWND SpinnerOf(HWND screen, HWND list) {
        for (HWND child = GetWindow(screen, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (IsClass(child, UPDOWN_CLASSW) &&
                reinterpret_cast<HWND>(SendMessageW(child, UDM_GETBUDDY, 0, 0)) == list)
                return child;
        }
        return nullptr;
    }

    void Control(HWND screen, HWND control) {
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        if (IsClass(control, L"Static")) {
            if ((style & SS_TYPEMASK) == SS_ICON)
                return;
            std::wstring text = TextOf(control);
            for (size_t start = 0; start <= text.size();) {
                const size_t end = std::min(text.find(L'\n', start), text.size());
                Line(text.substr(start, end - start));
                start = end + 1;
            }
        } else if (IsClass(control, L"ListBox") && SpinnerOf(screen, control) != nullptr) {
            const LRESULT row = SendMessageW(control, LB_GETCURSEL, 0, 0);
            Line(L"\u25C0 " + (row == LB_ERR ? L"" : ListEntry(control, row)) + L" \u25B6",
                 control == focus_);
        } else if (IsClass(control, L"ListBox")) {
            Line(L"", control == focus_);
            List(control);
        } else if (IsClass(control, L"Edit")) {
            Line(L"[" + TextOf(control) + L"]", control == focus_);
        } else if (IsClass(control, L"Button")) {
            Line(L"[ " + TextOf(control) + L" ]", control == focus_);
        }
    }

    HWND focus_;
    std::string text_;
};

struct Windows {
    DWORD process;
    std::vector<HWND> found;  // visible top-level windows, topmost first
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
    Windows& windows = *reinterpret_cast<Windows*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == windows.process && IsWindowVisible(window))
        windows.found.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleWindows(const Program& program) {
    Windows windows{program.id, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows.found;
}

bool HasMenuBar(HWND window) {
    return FindWindowExW(window, nullptr, L"TavonneMenuBar", nullptr) != nullptr;
}

GUITHREADINFO ThreadInfo(const Program& program) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(program.thread, &info);
    return info;
}

// The foreground screen (the topmost window with a soft-key bar), with the pop-ups open over it.
void Snap(const Program& program) {
    const std::vector<HWND> windows = VisibleWindows(program);
    std::vector<HWND> popups;
    HWND screen = nullptr;
    for (HWND window : windows) {
        if (HasMenuBar(window)) {
            screen = window;
            break;
        }
        if (IsClass(window, L"TavonnePopup"))
            popups.insert(popups.begin(), window);
    }
    Screen text(ThreadInfo(program).hwndFocus);
    if (screen != nullptr)
        text.Window(screen, popups);
    Print(text.Text() + "----\n");
}

// The window that takes a key: the one with the focus, else the topmost one.
HWND KeyTarget(const Program& program) {
    const GUITHREADINFO info = ThreadInfo(program);
    if (info.hwndFocus != nullptr)
        return info.hwndFocus;
    if (info.hwndActive != nullptr)
        return info.hwndActive;
    const std::vector<HWND> windows = VisibleWindows(program);
    return windows.empty() ? nullptr : windows.front();
}

// Waits until the program has handled all it was sent, or has ended.
void WaitIdle(const Program& program) {
    PostThreadMessageW(program.thread, program.marker, 0, 0);
    const HANDLE handles[] = {program.idle, program.process};
    if (WaitForMultipleObjects(2, handles, FALSE, kKeyTimeout) == WAIT_TIMEOUT)
        fputs("tavonne-driver: the program did not become idle\n", stderr);
}

void PressKey(const Program& program, UINT key) {
    HWND target = KeyTarget(program);
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageW(target, WM_KEYUP, key, 0xC0000001 | (scan << 16));
    WaitIdle(program);
}

void Type(const Program& program, const std::wstring& text) {
    for (wchar_t c : text) {
        PostMessageW(KeyTarget(program), WM_CHAR, c, 1);
        WaitIdle(program);
    }
}

std::optional<UINT> KeyNamed(const std::string& name) {
    struct Named {
        const char* name;
        UINT key;
    };
    static const Named keys[] = {
        {"SOFT1", VK_F1},  {"SOFT2", VK_F2},    {"UP", VK_UP},         {"DOWN", VK_DOWN},
        {"LEFT", VK_LEFT}, {"RIGHT", VK_RIGHT}, {"ACTION", VK_RETURN}, {"BACK", VK_BACK},
        {"*", VK_F8},      {"#", VK_F9},
    };
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '9')
        return name[0];
    for (const Named& named : keys) {
        if (name == named.name)
            return named.key;
    }
    return std::nullopt;
}

bool Start(const std::wstring& path, Program& program) {
    std::wstring commandLine = L"\"" + path + L"\"";
    // The program's standard output is the driver's: the hook writes its launch events there.
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    SetHandleInformation(startup.hStdOutput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(startup.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &started))
        return false;
    program.process = started.hProcess;
    program.id = started.dwProcessId;
    program.thread = started.dwThreadId;
    program.marker = RegisterWindowMessageW(L"TavonneDriverIdle");
    program.idle = CreateEventW(
        nullptr, FALSE, FALSE, (L"Local\\TavonneDriverIdle" + std::to_wstring(program.id)).c_str());
    // The program ends with the driver, however the driver ends; what it starts lives on.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    AssignProcessToJobObject(job, started.hProcess);
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    return true;
}

// Lets the idle hook run inside the program's thread.
bool Watch(const Program& program) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring hookFile = self;
    hookFile = hookFile.substr(0, hookFile.find_last_of(L"\\/") + 1) + L"tavonne-idle.dll";
    HMODULE hooks = LoadLibraryW(hookFile.c_str());
    auto hook =
        hooks != nullptr
            ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(hooks, "IdleHook")))
            : nullptr;
    return hook != nullptr &&
           SetWindowsHookExW(WH_GETMESSAGE, hook, hooks, program.thread) != nullptr;
}

int ExitCode(const Program& program) {
    WaitForSingleObject(program.process, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(program.process, &code);
    return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc != 2) {
        fputs("usage: tavonne-driver PROGRAM.exe\n", stderr);
        return 3;
    }
    Program program;
    if (!Start(argv[1], program)) {
        fprintf(stderr, "tavonne-driver: cannot start %s (error %lu)\n", Utf8(argv[1]).c_str(),
                GetLastError());
        return 3;
    }
    // A program that ends without ever waiting for input (another copy runs) reads nothing.
    WaitForInputIdle(program.process, INFINITE);
    if (WaitForSingleObject(program.process, 0) == WAIT_OBJECT_0)
        return ExitCode(program);
    if (!Watch(program)) {
        fputs("tavonne-driver: cannot watch the program\n", stderr);
        TerminateProcess(program.process, 3);
        return 3;
    }
    WaitIdle(program);

    Input input;
    int lineNumber = 0;
    for (;;) {
        const HANDLE handles[] = {program.process, input.Ready()};
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0)
            return ExitCode(program);
        if (input.Ended()) {
            fputs("tavonne: input ended while a screen is open\n", stderr);
            TerminateProcess(program.process, 2);
            WaitForSingleObject(program.process, INFINITE);
            return 2;
        }
        std::optional<std::string> read = input.Take();
        if (!read)
            continue;
        ++lineNumber;
        std::string line = *read;
        line.erase(0, line.find_first_not_of(" \t"));
        if (line == "TYPE" || line.rfind("TYPE ", 0) == 0) {
            Type(program, Wide(line.size() > 5 ? line.substr(5) : ""));
            continue;
        }
        line.erase(line.find_last_not_of(" \t") + 1);
        if (line.empty() || (line.size() > 1 && line[0] == '#'))
            continue;
        if (line == "LAYOUT") {
            // The program's hook writes its windows' places; then the closing line.
            WaitIdle(program);
            PostThreadMessageW(program.thread, RegisterWindowMessageW(L"TavonneDriverLayout"), 0,
                               0);
            WaitIdle(program);
            Print("----\n");
        } else if (line == "BREAK REGISTRY") {
            // From now on the program's registry writes fail, as on a damaged phone.
            PostThreadMessageW(program.thread,
                               RegisterWindowMessageW(L"TavonneDriverBreakRegistry"), 0, 0);
            WaitIdle(program);
        } else if (line == "SNAP") {
            // What another process did meanwhile (a second start bringing this one forward) is
            // handled before the screen is read.
            WaitIdle(program);
            Snap(program);
        } else if (const std::optional<UINT> key = KeyNamed(line)) {
            PressKey(program, *key);
        } else {
            fprintf(stderr, "tavonne: line %d: unknown key \"%s\"\n", lineNumber, line.c_str());
            fflush(stderr);
        }
    }
}
