// The Smartphone shell: full-screen dialogs, the soft-key menu bar and its pop-up menu, the Back
// key taken by a screen or left to its default, and message boxes.
#include "window_fixture.h"

#include "platform/aygshell/menu_bar.h"
#include "platform/user32/window_classes.h"

namespace {

class WindowShellTest : public WindowTest {
  protected:
    // Creates the menu bar of a screen as the screens do; FALSE when SHCreateMenuBar fails.
    BOOL MakeMenuBar(HWND screen, UINT id, HWND* menuBar = nullptr) {
        SHMENUBARINFO info{};
        info.cbSize = sizeof(info);
        info.hwndParent = screen;
        info.nToolBarId = id;
        info.hInstRes = module;
        BOOL made = SHCreateMenuBar(&info);
        if (menuBar != nullptr)
            *menuBar = info.hwndMB;
        return made;
    }

    // A modeless screen with the given menu bar.
    HWND Screen(int dialogId, UINT menuBarId) {
        HWND screen = Open(dialogId);
        EXPECT_TRUE(MakeMenuBar(screen, menuBarId));
        received.clear();
        return screen;
    }

    static void TakeBackKey(HWND screen) {
        SendMessageW(
            SHFindMenuBar(screen), SHCMBM_OVERRIDEKEY, VK_TBACK,
            MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
    }
};

// ---- Full-screen dialogs ----

TEST_F(WindowShellTest, SHInitDialogMakesADialogFillTheScreenAboveTheSoftKeys) {
    HWND dialog = Open(IDD_EMPTY);
    SHINITDLGINFO info{SHIDIM_FLAGS, dialog, SHIDIF_SIZEDLGFULLSCREEN};
    ASSERT_TRUE(SHInitDialog(&info));
    const wm::Window* window = wm::Find(dialog);
    EXPECT_EQ(window->x, 0);
    EXPECT_EQ(window->y, 0);
    EXPECT_EQ(window->cx, wm::TheDisplay().width);
    EXPECT_EQ(window->cy, wm::TheDisplay().height);
    EXPECT_TRUE(wm::StateOf<wm::DialogState>(dialog)->fullScreen);

    SHINITDLGINFO stale{SHIDIM_FLAGS, reinterpret_cast<HWND>(0x10), SHIDIF_SIZEDLGFULLSCREEN};
    EXPECT_FALSE(SHInitDialog(&stale));
    EXPECT_FALSE(SHInitDialog(nullptr));
}

// ---- Menu bars ----

TEST_F(WindowShellTest, AMenuBarTakesItsLabelsFromTheStringTable) {
    HWND screen = Open(IDD_SPINNERS);
    HWND menuBar = nullptr;
    ASSERT_TRUE(MakeMenuBar(screen, IDR_POPUP_BAR, &menuBar));
    ASSERT_NE(menuBar, nullptr);
    EXPECT_EQ(SHFindMenuBar(screen), menuBar);
    EXPECT_EQ(GetParent(menuBar), screen);
    // The menu bar never takes the foreground from its screen.
    EXPECT_EQ(GetForegroundWindow(), screen);
    ShowWindow(menuBar, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(menuBar));
    EXPECT_EQ(GetForegroundWindow(), screen);

    const std::vector<menubar::SoftKey> keys = menubar::SoftKeysOf(menuBar);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].label, u"Terminé");
    EXPECT_EQ(keys[0].command, static_cast<UINT>(IDM_DONE));
    EXPECT_FALSE(keys[0].DropsDown());
    EXPECT_EQ(keys[1].label, u"Menu");
    EXPECT_TRUE(keys[1].DropsDown());
    EXPECT_EQ(keys[1].popupIndex, 1);
    const menus::Menu* menu = menubar::MenuOf(menuBar);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->size(), 2u);
    EXPECT_EQ((*menu)[1].text, u"Menu");
    EXPECT_EQ((*menu)[1].items.size(), 5u);
    // It goes with its screen.
    DestroyWindow(screen);
    EXPECT_FALSE(IsWindow(menuBar));
}

TEST_F(WindowShellTest, MissingOrMalformedMenuBarsAreRefused) {
    HWND screen = Open(IDD_SPINNERS);
    HWND menuBar = reinterpret_cast<HWND>(0x1);
    EXPECT_FALSE(MakeMenuBar(screen, IDR_MISSING_BAR, &menuBar));
    EXPECT_EQ(menuBar, nullptr);
    EXPECT_FALSE(MakeMenuBar(screen, IDR_BAD_POPUP_BAR));
    EXPECT_FALSE(MakeMenuBar(screen, IDR_SHORT_BAR));
    EXPECT_FALSE(MakeMenuBar(screen, IDR_NO_MENU_BAR));
    EXPECT_FALSE(MakeMenuBar(screen, IDR_THREE_BAR));
    EXPECT_EQ(SHFindMenuBar(screen), nullptr);

    SHMENUBARINFO info{};
    info.cbSize = sizeof(info) - 1;
    info.hwndParent = screen;
    info.nToolBarId = IDR_PLAIN_BAR;
    info.hInstRes = module;
    EXPECT_FALSE(SHCreateMenuBar(&info));
    info.cbSize = sizeof(info);
    info.hwndParent = reinterpret_cast<HWND>(0x42);
    EXPECT_FALSE(SHCreateMenuBar(&info));
    info.hwndParent = screen;
    info.hInstRes = resources::ModuleNamed("window_other");
    EXPECT_FALSE(SHCreateMenuBar(&info));
    EXPECT_FALSE(SHCreateMenuBar(nullptr));
}

TEST_F(WindowShellTest, SoftKeysSendTheirCommandsToTheScreen) {
    HWND screen = Screen(IDD_SPINNERS, IDR_PLAIN_BAR);
    keys::Press(keys::kSoftKey1);
    keys::Press(keys::kSoftKey2);
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{IDM_DONE, 0}, {IDM_CANCEL, 0}}));
    // Whatever control has the focus.
    SetFocus(GetDlgItem(screen, IDC_EDIT));
    received.clear();
    keys::Press(keys::kSoftKey1);
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{IDM_DONE, 0}}));
}

TEST_F(WindowShellTest, ASoftKeyCommandCanRunAnotherScreen) {
    onMessage = [this](HWND screen, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && wParam == MAKEWPARAM(IDM_DONE, 0)) {
            MakeMenuBar(screen, IDR_PLAIN_BAR);
            return TRUE;
        }
        if (message == WM_COMMAND && wParam == MAKEWPARAM(IDM_CANCEL, 0)) {
            EndDialog(screen, static_cast<INT_PTR>(GetWindowLongPtrW(screen, DWLP_USER)) + 1);
            return TRUE;
        }
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(screen, DWLP_USER, 10);
            MakeMenuBar(screen, IDR_PLAIN_BAR);
            return TRUE;
        }
        return FALSE;
    };
    // The right soft key ends it; a nested run of the same screen ends first.
    EXPECT_EQ(Run(IDD_SPINNERS, {keys::kSoftKey2}), 11);
    EXPECT_EQ(inputRanOut, 0);
}

TEST_F(WindowShellTest, APopupMenuIsWalkedWithArrowsAndPickedWithAction) {
    HWND screen = Screen(IDD_SPINNERS, IDR_POPUP_BAR);
    HWND menuBar = SHFindMenuBar(screen);
    keys::Press(keys::kSoftKey2);
    ASSERT_EQ(wm::KeyCapture(), menuBar);
    const auto popup = menubar::PopupOf(menuBar);
    ASSERT_TRUE(popup.has_value());
    EXPECT_EQ(popup->highlighted, 0);
    EXPECT_EQ(popup->items->at(0).text, u"Jouer");
    keys::Press(keys::kDown);  // over the separator
    EXPECT_EQ(menubar::PopupOf(menuBar)->highlighted, 2);
    keys::Press(keys::kUp);
    keys::Press(keys::kUp);  // wraps to the last item
    EXPECT_EQ(menubar::PopupOf(menuBar)->highlighted, 4);
    // While the menu is open the lists do not turn.
    keys::Press(keys::kLeft);
    EXPECT_EQ(CurrentOf(screen, IDC_WRAP_LIST), LB_ERR);
    EXPECT_TRUE(Commands().empty());
    keys::Press(keys::kAction);
    EXPECT_EQ(wm::KeyCapture(), nullptr);
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{IDM_ABOUT, 0}}));
}

TEST_F(WindowShellTest, PopupItemsArePickedByTheirNumber) {
    HWND screen = Screen(IDD_SPINNERS, IDR_POPUP_BAR);
    keys::Press(keys::kSoftKey2);
    keys::Press(keys::Key::Digit(2));  // the separator is not counted
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{IDM_SETTINGS, 0}}));
    received.clear();
    keys::Press(keys::kSoftKey2);
    keys::Press(keys::Key::Digit(3));  // grayed: not picked, the menu stays
    keys::Press(keys::Key::Digit(9));  // no such item
    EXPECT_EQ(wm::KeyCapture(), SHFindMenuBar(screen));
    keys::Press(keys::Key::Digit(1));
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{IDM_PLAY, 0}}));
}

TEST_F(WindowShellTest, BackOrTheSameSoftKeyClosesThePopupWithoutACommand) {
    HWND screen = Screen(IDD_SPINNERS, IDR_POPUP_BAR);
    keys::Press(keys::kSoftKey2);
    keys::Press(keys::kBack);
    EXPECT_EQ(wm::KeyCapture(), nullptr);
    keys::Press(keys::kSoftKey2);
    keys::Press(keys::kSoftKey1);  // the other soft key does nothing here
    EXPECT_EQ(wm::KeyCapture(), SHFindMenuBar(screen));
    keys::Press(keys::kSoftKey2);
    EXPECT_EQ(wm::KeyCapture(), nullptr);
    EXPECT_TRUE(Commands().empty());
    EXPECT_TRUE(IsWindow(screen));
}

// ---- The Back key ----

TEST_F(WindowShellTest, ATakenBackKeyReachesTheScreenAsAHotKey) {
    HWND screen = Screen(IDD_FORM, IDR_PLAIN_BAR);
    TakeBackKey(screen);
    keys::Press(keys::kBack);
    std::vector<LPARAM> hotKeys;
    for (const Received& r : received) {
        if (r.message == WM_HOTKEY)
            hotKeys.push_back(r.lParam);
    }
    ASSERT_EQ(hotKeys.size(), 2u);
    EXPECT_EQ(HIWORD(hotKeys[0]), VK_TBACK);
    EXPECT_EQ(LOWORD(hotKeys[0]), 0);
    EXPECT_EQ(HIWORD(hotKeys[1]), VK_TBACK);
    EXPECT_EQ(LOWORD(hotKeys[1]), MOD_KEYUP);
    EXPECT_EQ(CountCommands(IDCANCEL, 0), 0);
    EXPECT_TRUE(IsWindow(screen));
}

TEST_F(WindowShellTest, SHSendBackToFocusWindowDeletesACharacterInTheEditField) {
    onMessage = [](HWND, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_HOTKEY) {
            if (HIWORD(lParam) == VK_TBACK)
                SHSendBackToFocusWindow(WM_HOTKEY, wParam, lParam);
            return TRUE;
        }
        return message == WM_INITDIALOG;
    };
    HWND screen = Screen(IDD_FORM, IDR_PLAIN_BAR);
    TakeBackKey(screen);
    ASSERT_EQ(GetFocus(), GetDlgItem(screen, IDC_EDIT));
    SetDlgItemTextW(screen, IDC_EDIT, u"\\Sons\\");
    keys::Press(keys::kBack);
    WCHAR text[16];
    GetDlgItemTextW(screen, IDC_EDIT, text, 16);
    EXPECT_EQ(std::u16string(text), u"\\Sons");
    EXPECT_TRUE(IsWindow(screen));
    // In a list there is nothing to delete.
    keys::Press(keys::kDown);
    keys::Press(keys::kBack);
    GetDlgItemTextW(screen, IDC_EDIT, text, 16);
    EXPECT_EQ(std::u16string(text), u"\\Sons");
}

TEST_F(WindowShellTest, AnUntakenBackKeySendsIdCancelAndNothingElse) {
    HWND screen = Screen(IDD_FORM, IDR_PLAIN_BAR);
    SetDlgItemTextW(screen, IDC_EDIT, u"abc");
    received.clear();
    keys::Press(keys::kBack);
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{IDCANCEL, 0}}));
    EXPECT_FALSE(WasSent(WM_HOTKEY));
    WCHAR text[8];
    GetDlgItemTextW(screen, IDC_EDIT, text, 8);
    EXPECT_EQ(std::u16string(text), u"abc");
    EXPECT_TRUE(IsWindow(screen));
    EXPECT_TRUE(IsWindowVisible(screen));
}

TEST_F(WindowShellTest, NotifyWithoutNoDefaultGivesBothTheHotKeyAndIdCancel) {
    HWND screen = Screen(IDD_FORM, IDR_PLAIN_BAR);
    SendMessageW(SHFindMenuBar(screen), SHCMBM_OVERRIDEKEY, VK_TBACK,
                 MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NOTIFY));
    keys::Press(keys::kBack);
    EXPECT_TRUE(WasSent(WM_HOTKEY));
    EXPECT_EQ(CountCommands(IDCANCEL, 0), 1);
}

// ---- Message boxes ----

TEST_F(WindowShellTest, AMessageBoxShowsItsTextAndReturnsIdOk) {
    HWND screen = Screen(IDD_FORM, IDR_PLAIN_BAR);
    std::u16string seenCaption;
    std::u16string seenText;
    std::vector<std::u16string> seenButtons;
    bool ownerEnabled = true;
    keys::SetInputSource([&]() -> std::optional<keys::Key> {
        HWND box = GetForegroundWindow();
        if (const auto content = classes::MessageBoxOf(box)) {
            seenCaption = content->caption;
            seenText = content->text;
            seenButtons = content->buttons;
        }
        ownerEnabled = IsWindowEnabled(screen);
        keys::SetInputSource(keys::FromList({keys::kSoftKey1}));
        // Keys other than the left soft key and action leave it open.
        return keys::kDown;
    });
    int result =
        MessageBoxW(screen, u"Le dossier n'a pas encore été paramétré!\nVeuillez le paramétrer.",
                    u"Alerte!", MB_OK);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(seenCaption, u"Alerte!");
    EXPECT_EQ(seenText, u"Le dossier n'a pas encore été paramétré!\nVeuillez le paramétrer.");
    EXPECT_EQ(seenButtons, (std::vector<std::u16string>{u"OK"}));
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(IsWindowEnabled(screen));
    EXPECT_EQ(GetForegroundWindow(), screen);
    // The keys went to the message box, not to the screen below, which has its focus back.
    EXPECT_EQ(CountCommands(IDM_DONE, 0), 0);
    EXPECT_EQ(GetFocus(), GetDlgItem(screen, IDC_EDIT));
    EXPECT_EQ(CountCommands(IDC_EDIT, EN_SETFOCUS), 1);
    EXPECT_EQ(inputRanOut, 0);
}

// The action key and Back dismiss it too, Back as Escape does a Win32 box with only "OK".
TEST_F(WindowShellTest, TheActionKeyAndBackDismissAMessageBoxToo) {
    for (const keys::Key& key : {keys::kAction, keys::kBack}) {
        keys::SetInputSource(keys::FromList({key}));
        EXPECT_EQ(
            MessageBoxW(nullptr, u"Erreur pendant la modification du regitre", u"Erreur", MB_OK),
            IDOK);
        EXPECT_EQ(inputRanOut, 0);
        EXPECT_TRUE(wm::TopLevelWindows().empty());
    }
}

TEST_F(WindowShellTest, AMessageBoxWhoseInputRunsOutGivesZero) {
    keys::SetInputSource(keys::FromList({keys::kRight}));
    EXPECT_EQ(MessageBoxW(nullptr, u"x", u"y", MB_OK), 0);
    EXPECT_EQ(inputRanOut, 1);
    EXPECT_EQ(MessageBoxW(reinterpret_cast<HWND>(0x77), u"x", u"y", MB_OK), 0);
    EXPECT_EQ(MessageBoxW(nullptr, u"x", u"y", MB_YESNO), 0);
}

// The first start: an alert, then another screen, from inside the screen's WM_INITDIALOG,
// before the screen itself is shown.
TEST_F(WindowShellTest, AnAlertAndANestedScreenFromInitDialogComeBeforeTheScreen) {
    std::vector<std::string> steps;
    onMessage = [&](HWND screen, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            MakeMenuBar(screen, IDR_POPUP_BAR);
            steps.push_back(IsWindowVisible(screen) ? "visible" : "hidden");
            steps.push_back("alert " +
                            std::to_string(MessageBoxW(screen, u"a\nb", u"Alerte!", MB_OK)));
            INT_PTR inner = DialogBoxIndirectParamW(
                module, Template(IDD_FORM), nullptr,
                [](HWND form, UINT m, WPARAM w, LPARAM) -> INT_PTR {
                    if (m == WM_COMMAND && LOWORD(w) == IDCANCEL) {
                        EndDialog(form, 5);
                        return TRUE;
                    }
                    return m == WM_INITDIALOG;
                },
                0);
            steps.push_back("settings " + std::to_string(inner));
            return TRUE;
        }
        if (message == WM_COMMAND && wParam == MAKEWPARAM(IDM_DONE, 0)) {
            EndDialog(screen, 0);
            return TRUE;
        }
        return FALSE;
    };
    EXPECT_EQ(Run(IDD_SPINNERS, {keys::kSoftKey1, keys::kBack, keys::kSoftKey1}), 0);
    EXPECT_EQ(steps, (std::vector<std::string>{"hidden", "alert 1", "settings 5"}));
    EXPECT_EQ(inputRanOut, 0);
    EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SETFOCUS), 1);
}

}  // namespace
