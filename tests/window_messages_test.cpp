// Windows and messages: checked handles, window classes, sending and posting, message loops and
// the input source, text, visibility, focus, activation and FindWindow.
#include "platform/testing/testing.h"
#include "window_fixture.h"

#include <unistd.h>

namespace {

std::vector<Received> plainReceived;

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    plainReceived.push_back({window, message, wParam, lParam});
    if (message == WM_USER + 1)
        return static_cast<LRESULT>(wParam + lParam);
    if (message == WM_USER + 2)
        DestroyWindow(window);
    return DefWindowProcW(window, message, wParam, lParam);
}

class WindowMessagesTest : public WindowTest {
  protected:
    WindowMessagesTest() {
        plainReceived.clear();
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = PlainProc;
        windowClass.lpszClassName = u"PlainWindow";
        RegisterClassW(&windowClass);
    }

    HWND MakeWindow(const char16_t* title, DWORD style = WS_POPUP | WS_VISIBLE,
                    HWND parent = nullptr, int id = 0) {
        return CreateWindowExW(0, u"PlainWindow", title, style, 0, 0, 10, 10, parent,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr,
                               nullptr);
    }

    int Count(HWND window, UINT message) {
        int count = 0;
        for (const Received& r : plainReceived)
            count += r.window == window && r.message == message;
        return count;
    }
};

// ---- Handles ----

TEST_F(WindowMessagesTest, DestroyedHandlesFailCleanlyWithInvalidWindowHandle) {
    HWND window = MakeWindow(u"Fenêtre");
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(DestroyWindow(window));

    EXPECT_FALSE(IsWindow(window));
    SetLastError(0);
    EXPECT_FALSE(SetWindowTextW(window, u"x"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0);
    EXPECT_EQ(SendMessageW(window, WM_USER + 1, 1, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(PostMessageW(window, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(ShowWindow(window, SW_SHOW));
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(SetFocus(window), nullptr);
    EXPECT_FALSE(SetForegroundWindow(window));
    EXPECT_EQ(GetDlgItem(window, 1), nullptr);
    EXPECT_FALSE(EndDialog(window, 1));
    WCHAR buffer[4] = {u'z', u'z', u'z', u'z'};
    EXPECT_EQ(GetWindowTextW(window, buffer, 4), 0);
    EXPECT_EQ(GetWindowTextLengthW(window), 0);
}

TEST_F(WindowMessagesTest, GarbageAndForeignHandlesAreNeverDereferenced) {
    const HWND values[] = {
        reinterpret_cast<HWND>(0x1),
        reinterpret_cast<HWND>(0xDEADBEEF),
        reinterpret_cast<HWND>(static_cast<uintptr_t>(-1)),
        // What a window of another process looks like: another process id in the high half.
        reinterpret_cast<HWND>((static_cast<uintptr_t>(getpid()) + 1) << 32 | 0x10),
    };
    for (HWND value : values) {
        SetLastError(0);
        EXPECT_FALSE(IsWindow(value));
        EXPECT_FALSE(IsWindowVisible(value));
        EXPECT_EQ(SendMessageW(value, WM_GETTEXTLENGTH, 0, 0), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
        EXPECT_FALSE(SetForegroundWindow(value));
        EXPECT_FALSE(DestroyWindow(value));
        EXPECT_EQ(GetDlgCtrlID(value), 0);
    }
}

TEST_F(WindowMessagesTest, HandleValuesAreNeverGivenTwice) {
    HWND first = MakeWindow(u"a");
    DestroyWindow(first);
    wm::ResetForTesting();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PlainProc;
    windowClass.lpszClassName = u"PlainWindow";
    RegisterClassW(&windowClass);
    for (int i = 0; i < 50; ++i) {
        HWND next = MakeWindow(u"b");
        ASSERT_NE(next, first);
        DestroyWindow(next);
    }
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(wm::ProcessOf(first), static_cast<DWORD>(getpid()));
}

TEST_F(WindowMessagesTest, DestroyingAWindowDestroysItsChildrenAndOwnedWindows) {
    HWND parent = MakeWindow(u"parent");
    HWND child = MakeWindow(u"child", WS_CHILD | WS_VISIBLE, parent, 7);
    HWND owned = MakeWindow(u"owned", WS_POPUP, parent);
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_EQ(GetParent(owned), parent);
    ASSERT_TRUE(DestroyWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(IsWindow(owned));
    EXPECT_EQ(Count(child, WM_DESTROY), 1);
    EXPECT_EQ(Count(owned, WM_DESTROY), 1);
}

TEST_F(WindowMessagesTest, AWindowMayDestroyItselfWhileHandlingAMessage) {
    HWND window = MakeWindow(u"self");
    SendMessageW(window, WM_USER + 2, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Count(window, WM_NCDESTROY), 1);
}

// ---- Classes ----

TEST_F(WindowMessagesTest, ClassesAreFoundWithoutRegardToCaseAndUnknownOnesFail) {
    HWND window = CreateWindowExW(0, u"plainWINDOW", u"t", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    WCHAR name[32];
    GetClassNameW(window, name, 32);
    EXPECT_EQ(std::u16string(name), u"PlainWindow");
    EXPECT_EQ(Count(window, WM_CREATE), 1);

    SetLastError(0);
    EXPECT_EQ(CreateWindowExW(0, u"Nowhere", u"t", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                              nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), 1407u);  // ERROR_CANNOT_FIND_WND_CLASS
    EXPECT_EQ(MakeWindow(u"orphan", WS_CHILD), nullptr);

    WNDCLASSW again{};
    again.lpfnWndProc = PlainProc;
    again.lpszClassName = u"PLAINWINDOW";
    EXPECT_EQ(RegisterClassW(&again), 0);
}

// ---- Sending and posting ----

TEST_F(WindowMessagesTest, SendMessageCallsTheProcedureAtOnceAndReturnsItsResult) {
    HWND window = MakeWindow(u"w");
    plainReceived.clear();
    EXPECT_EQ(SendMessageW(window, WM_USER + 1, 40, 2), 42);
    ASSERT_EQ(plainReceived.size(), 1u);
    EXPECT_EQ(plainReceived[0].message, static_cast<UINT>(WM_USER + 1));
}

TEST_F(WindowMessagesTest, PostedMessagesComeOutInOrderThroughTheLoop) {
    HWND window = MakeWindow(u"w");
    PostMessageW(window, WM_USER + 10, 1, 0);
    PostMessageW(nullptr, WM_USER + 11, 2, 0);
    PostMessageW(window, WM_USER + 12, 3, 0);
    plainReceived.clear();

    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 10));
    // A filter on the message range skips what does not match.
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_USER + 11, WM_USER + 11, PM_REMOVE));
    EXPECT_EQ(message.hwnd, nullptr);
    EXPECT_EQ(message.wParam, 2u);

    PostQuitMessage(5);
    std::vector<UINT> order;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        order.push_back(message.message);
        DispatchMessageW(&message);
    }
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(message.wParam, 5u);
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 10, WM_USER + 12}));
    EXPECT_EQ(Count(window, WM_USER + 10), 1);
    EXPECT_EQ(Count(window, WM_USER + 12), 1);
    EXPECT_EQ(inputRanOut, 0);
}

TEST_F(WindowMessagesTest, MessagesPostedToAWindowGoWhenItIsDestroyed) {
    HWND window = MakeWindow(u"w");
    PostMessageW(window, WM_USER, 0, 0);
    DestroyWindow(window);
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowMessagesTest, GetMessageAsksTheInputSourceAndEndsWhenItRunsOut) {
    HWND window = MakeWindow(u"w");
    ASSERT_EQ(GetFocus(), window);
    keys::SetInputSource(keys::FromList({keys::Key::Char(u'x'), keys::kDown}));
    std::vector<std::pair<UINT, WPARAM>> got;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0))
        got.emplace_back(message.message, message.wParam);
    EXPECT_EQ(message.wParam, static_cast<WPARAM>(keys::kInputExhaustedExitCode));
    EXPECT_EQ(inputRanOut, 1);
    EXPECT_EQ(got, (std::vector<std::pair<UINT, WPARAM>>{
                       {WM_CHAR, u'x'}, {WM_KEYDOWN, VK_DOWN}, {WM_KEYUP, VK_DOWN}}));
}

TEST_F(WindowMessagesTest, TranslateMessageTurnsDigitAndPhoneKeysIntoCharacters) {
    HWND window = MakeWindow(u"w");
    keys::Press(keys::Key::Digit(7));
    keys::Press(keys::kStar);
    keys::Press(keys::kPound);
    keys::Press(keys::kLeft);
    std::u16string typed;
    for (const Received& r : plainReceived) {
        if (r.window == window && r.message == WM_CHAR)
            typed.push_back(static_cast<char16_t>(r.wParam));
    }
    EXPECT_EQ(typed, u"7*#");
}

TEST_F(WindowMessagesTest, AnExhaustedHandlerThatPostsSomethingKeepsTheLoopGoing) {
    HWND window = MakeWindow(u"w");
    int calls = 0;
    keys::SetInputExhaustedHandler([&] {
        if (++calls == 1)
            PostMessageW(window, WM_USER + 3, 0, 0);
    });
    MSG message;
    ASSERT_TRUE(GetMessageW(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 3));
    EXPECT_FALSE(GetMessageW(&message, nullptr, 0, 0));
    EXPECT_EQ(calls, 2);
}

// ---- Text ----

TEST_F(WindowMessagesTest, WindowTextIsCutToTheBufferAndAlwaysTerminated) {
    HWND window = MakeWindow(u"Paramètres");
    EXPECT_EQ(GetWindowTextLengthW(window), 10);
    WCHAR small[5];
    std::fill(std::begin(small), std::end(small), u'#');
    EXPECT_EQ(GetWindowTextW(window, small, 5), 4);
    EXPECT_EQ(std::u16string(small), u"Para");

    WCHAR untouched[2] = {u'#', u'#'};
    EXPECT_EQ(GetWindowTextW(window, untouched, 0), 0);
    EXPECT_EQ(untouched[0], u'#');

    ASSERT_TRUE(SetWindowTextW(window, u"A propos..."));
    EXPECT_EQ(TextOf(window), u"A propos...");
    ASSERT_TRUE(SetWindowTextW(window, nullptr));
    EXPECT_EQ(GetWindowTextLengthW(window), 0);
}

// ---- Properties and atoms ----

// A property is found by its name in any letter case or by the name's atom, and an atom names
// the same property whichever way it was given.
TEST_F(WindowMessagesTest, PropertiesAreFoundByNameInAnyCaseOrByAtom) {
    HWND window = MakeWindow(u"Propriétés");
    int first = 1, second = 2;
    ASSERT_TRUE(SetPropW(window, u"Tavonne.Été", &first));
    const ATOM atom = GlobalFindAtomW(u"TAVONNE.ÉTÉ");
    EXPECT_GE(atom, 0xC000);
    EXPECT_EQ(GlobalAddAtomW(u"tavonne.été"), atom);
    for (LPCWSTR name : {static_cast<LPCWSTR>(u"Tavonne.Été"), static_cast<LPCWSTR>(u"tavonne.ÉTÉ"),
                         static_cast<LPCWSTR>(MAKEINTATOM(atom))})
        EXPECT_EQ(GetPropW(window, name), &first) << atom;
    ASSERT_TRUE(SetPropW(window, MAKEINTATOM(atom), &second));
    EXPECT_EQ(GetPropW(window, u"TAVONNE.été"), &second);
    ASSERT_TRUE(SetPropW(window, MAKEINTATOM(7), &first));
    EXPECT_EQ(GetPropW(window, MAKEINTATOM(7)), &first);
    EXPECT_EQ(GetPropW(window, u"Absent"), nullptr);
    EXPECT_EQ(RemovePropW(window, u"Tavonne.Été"), &second);
    EXPECT_EQ(GetPropW(window, MAKEINTATOM(atom)), nullptr);

    SetLastError(0);
    EXPECT_FALSE(SetPropW(window, nullptr, &first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (LPCWSTR invalid : {static_cast<LPCWSTR>(u""), static_cast<LPCWSTR>(MAKEINTATOM(0))}) {
        SetLastError(0);
        EXPECT_EQ(GlobalAddAtomW(invalid), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(GlobalFindAtomW(u"Jamais ajouté"), 0);
}

// ---- Visibility, focus, activation ----

TEST_F(WindowMessagesTest, ShowWindowReturnsThePreviousVisibilityAndChildrenFollowTheirParent) {
    HWND window = MakeWindow(u"w", WS_POPUP);
    HWND child = MakeWindow(u"c", WS_CHILD | WS_VISIBLE, window, 3);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(IsWindowVisible(child));
    EXPECT_FALSE(ShowWindow(window, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(ShowWindow(window, SW_SHOWNORMAL));
    EXPECT_TRUE(ShowWindow(window, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(GetDlgCtrlID(child), 3);
}

TEST_F(WindowMessagesTest, FocusMovesWithKillAndSetFocusMessages) {
    HWND window = MakeWindow(u"w");
    HWND a = MakeWindow(u"a", WS_CHILD | WS_VISIBLE, window, 1);
    HWND b = MakeWindow(u"b", WS_CHILD | WS_VISIBLE, window, 2);
    EXPECT_EQ(GetFocus(), window);
    EXPECT_EQ(SetFocus(a), window);
    EXPECT_EQ(GetFocus(), a);
    plainReceived.clear();
    EXPECT_EQ(SetFocus(b), a);
    ASSERT_EQ(plainReceived.size(), 2u);
    EXPECT_EQ(plainReceived[0].window, a);
    EXPECT_EQ(plainReceived[0].message, static_cast<UINT>(WM_KILLFOCUS));
    EXPECT_EQ(plainReceived[1].window, b);
    EXPECT_EQ(plainReceived[1].message, static_cast<UINT>(WM_SETFOCUS));
    // Setting the focus where it is changes nothing.
    plainReceived.clear();
    SetFocus(b);
    EXPECT_TRUE(plainReceived.empty());
    DestroyWindow(b);
    EXPECT_EQ(GetFocus(), nullptr);
}

TEST_F(WindowMessagesTest, ForegroundFollowsShowingHidingAndSetForegroundWindow) {
    HWND first = MakeWindow(u"premier");
    HWND second = MakeWindow(u"second");
    EXPECT_EQ(GetForegroundWindow(), second);
    EXPECT_EQ(Count(first, WM_ACTIVATE), 2);  // active, then inactive
    EXPECT_TRUE(SetForegroundWindow(first));
    EXPECT_EQ(GetForegroundWindow(), first);
    EXPECT_EQ(wm::TopLevelWindows().front(), first);
    ShowWindow(first, SW_HIDE);
    EXPECT_EQ(GetForegroundWindow(), second);
    DestroyWindow(second);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
    EXPECT_EQ(GetFocus(), nullptr);
}

TEST_F(WindowMessagesTest, FindWindowMatchesTopLevelTitlesOfThisProcess) {
    HWND hidden = MakeWindow(u"Tavonne", WS_POPUP);
    HWND parent = MakeWindow(u"Autre");
    MakeWindow(u"Enfant", WS_CHILD, parent, 1);
    EXPECT_EQ(FindWindowW(nullptr, u"Tavonne"), hidden);
    EXPECT_EQ(FindWindowW(nullptr, u"TAVONNE"), hidden);
    EXPECT_EQ(FindWindowW(u"PlainWindow", u"Autre"), parent);
    EXPECT_EQ(FindWindowW(nullptr, u"Enfant"), nullptr);
    EXPECT_EQ(FindWindowW(u"#32770", u"Tavonne"), nullptr);
    DestroyWindow(hidden);
    EXPECT_EQ(FindWindowW(nullptr, u"Tavonne"), nullptr);
}

TEST_F(WindowMessagesTest, OtherProcessesWindowsAreReachedThroughTheirHook) {
    HWND remote = reinterpret_cast<HWND>((static_cast<uintptr_t>(getpid()) + 1) << 32 | 0x20);
    HWND broughtForward = nullptr;
    wm::SetRemoteWindows({[&](std::u16string_view, std::u16string_view title) {
                              return title == u"Tavonne" ? remote : nullptr;
                          },
                          [&](HWND window) {
                              broughtForward = window;
                              return true;
                          }});
    EXPECT_EQ(FindWindowW(nullptr, u"Tavonne"), remote);
    EXPECT_EQ(FindWindowW(nullptr, u"Rien"), nullptr);
    EXPECT_TRUE(SetForegroundWindow(remote));
    EXPECT_EQ(broughtForward, remote);
}

TEST_F(WindowMessagesTest, WindowLongsReadAndChangeStyleIdAndUserData) {
    HWND window = MakeWindow(u"w");
    HWND child = MakeWindow(u"c", WS_CHILD, window, 12);
    EXPECT_EQ(GetWindowLongW(child, GWL_ID), 12);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)), static_cast<DWORD>(WS_CHILD));
    EXPECT_EQ(SetWindowLongPtrW(window, GWLP_USERDATA, 99), 0);
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), 99);
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrW(window, DWLP_USER), 0);
    EXPECT_EQ(GetLastError(), 1413u);  // ERROR_INVALID_INDEX: not a dialog
}

TEST_F(WindowMessagesTest, TheProgramModuleIsAlwaysThere) {
    HMODULE program = GetModuleHandleW(nullptr);
    EXPECT_NE(program, nullptr);
    EXPECT_EQ(GetModuleHandleW(nullptr), program);
    EXPECT_EQ(GetModuleHandleW(u"window_test"), resources::ModuleNamed("window_test"));
    EXPECT_EQ(GetModuleHandleW(u"nothing.dll"), nullptr);
}

}  // namespace
