// Dialogs: modal loops and their results, WM_INITDIALOG and the first focus, nested screens
// (one of them run from inside WM_INITDIALOG), keyboard navigation between tab stops, and the
// Back and action keys' default commands.
#include "window_fixture.h"

namespace {

using WindowDialogTest = WindowTest;

TEST_F(WindowDialogTest, DialogBoxReturnsTheValueGivenToEndDialog) {
    onMessage = [](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
            EndDialog(dialog, 1234);
            return TRUE;
        }
        return message == WM_INITDIALOG;
    };
    // Action with the focus on a list without an expandable spinner sends IDOK.
    EXPECT_EQ(Run(IDD_FORM, {keys::kAction}), 1234);
    EXPECT_EQ(inputRanOut, 0);
    EXPECT_TRUE(wm::TopLevelWindows().empty());
    EXPECT_EQ(GetForegroundWindow(), nullptr);
}

TEST_F(WindowDialogTest, EndDialogInsideInitDialogEndsItBeforeItIsShown) {
    onMessage = [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            EndDialog(dialog, -1);
            return TRUE;
        }
        return FALSE;
    };
    EXPECT_EQ(Run(IDD_SPINNERS, {}), -1);
    EXPECT_EQ(inputRanOut, 0);
    for (const Received& r : received) {
        EXPECT_NE(r.message, static_cast<UINT>(WM_SHOWWINDOW));
    }
    EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SETFOCUS), 0);
}

TEST_F(WindowDialogTest, ADialogWhoseInputRunsOutGivesMinusOne) {
    EXPECT_EQ(Run(IDD_SPINNERS, {keys::kDown}), -1);
    EXPECT_EQ(inputRanOut, 1);
    EXPECT_TRUE(wm::TopLevelWindows().empty());
}

TEST_F(WindowDialogTest, TrueFromInitDialogFocusesTheFirstTabStopWhichIsNotified) {
    HWND dialog = Open(IDD_SPINNERS);
    HWND list = GetDlgItem(dialog, IDC_WRAP_LIST);
    EXPECT_EQ(GetFocus(), list);
    EXPECT_EQ(GetForegroundWindow(), dialog);
    EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SETFOCUS), 1);
    for (const Received& r : received) {
        if (r.message == WM_COMMAND && HIWORD(r.wParam) == LBN_SETFOCUS) {
            EXPECT_EQ(r.lParam, reinterpret_cast<LPARAM>(list));
        }
    }
}

TEST_F(WindowDialogTest, FalseFromInitDialogLeavesTheFocusToTheProcedure) {
    onMessage = [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            SetFocus(GetDlgItem(dialog, IDC_EDIT));
            return FALSE;
        }
        return FALSE;
    };
    HWND dialog = Open(IDD_SPINNERS);
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_EDIT));
    EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SETFOCUS), 0);
    EXPECT_EQ(CountCommands(IDC_EDIT, EN_SETFOCUS), 1);
}

TEST_F(WindowDialogTest, UpAndDownMoveBetweenTabStopsWrappingAndSkippingHiddenOnes) {
    HWND dialog = Open(IDD_SPINNERS);
    HWND wrapList = GetDlgItem(dialog, IDC_WRAP_LIST);
    HWND stopList = GetDlgItem(dialog, IDC_STOP_LIST);
    HWND edit = GetDlgItem(dialog, IDC_EDIT);
    keys::Press(keys::kDown);
    EXPECT_EQ(GetFocus(), stopList);
    keys::Press(keys::kDown);
    EXPECT_EQ(GetFocus(), edit);  // the list that is not visible is skipped
    keys::Press(keys::kDown);
    EXPECT_EQ(GetFocus(), wrapList);
    keys::Press(keys::kUp);
    EXPECT_EQ(GetFocus(), edit);
    EXPECT_EQ(CountCommands(IDC_STOP_LIST, LBN_SETFOCUS), 1);
    EXPECT_EQ(CountCommands(IDC_STOP_LIST, LBN_KILLFOCUS), 1);
    EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SETFOCUS), 2);
    EXPECT_EQ(CountCommands(IDC_EDIT, EN_SETFOCUS), 2);
}

TEST_F(WindowDialogTest, BackSendsIdCancelAndTheDialogStaysUntilItsProcedureEndsIt) {
    int cancels = 0;
    onMessage = [&cancels](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && wParam == MAKEWPARAM(IDCANCEL, 0)) {
            if (++cancels == 2)
                EndDialog(dialog, 2);
            return TRUE;
        }
        return message == WM_INITDIALOG;
    };
    EXPECT_EQ(Run(IDD_SPINNERS, {keys::kBack, keys::kBack, keys::kBack}), 2);
    EXPECT_EQ(cancels, 2);
    EXPECT_EQ(inputRanOut, 0);
}

TEST_F(WindowDialogTest, IgnoredBackAndActionKeysNeverEndADialog) {
    EXPECT_EQ(Run(IDD_TEXTS, {keys::kBack, keys::kAction, keys::kBack}), -1);
    EXPECT_EQ(inputRanOut, 1);
    EXPECT_EQ(CountCommands(IDCANCEL, 0), 2);
    EXPECT_EQ(CountCommands(IDOK, 0), 1);
}

// A screen that runs another screen from inside its WM_INITDIALOG, as the main screen does on
// the first start.
INT_PTR CALLBACK InnerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 7);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

TEST_F(WindowDialogTest, AScreenRunFromInitDialogRunsToItsEndFirst) {
    INT_PTR inner = 0;
    bool outerVisibleMeanwhile = true;
    onMessage = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            inner = DialogBoxIndirectParamW(module, Template(IDD_FORM), nullptr, InnerProc, 0);
            outerVisibleMeanwhile = IsWindowVisible(dialog);
            return TRUE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 3);
            return TRUE;
        }
        return FALSE;
    };
    // The first Back ends the inner screen, the second the outer one.
    EXPECT_EQ(Run(IDD_SPINNERS, {keys::kBack, keys::kBack}), 3);
    EXPECT_EQ(inner, 7);
    EXPECT_FALSE(outerVisibleMeanwhile);
    EXPECT_EQ(inputRanOut, 0);
    // The outer screen got the focus on its first list once its initialisation was over.
    EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SETFOCUS), 1);
}

TEST_F(WindowDialogTest, ANestedScreenWithoutOwnerLeavesTheScreenBelowEnabledAndFocusReturns) {
    HWND below = Open(IDD_FORM);
    keys::Press(keys::kDown);
    HWND list = GetDlgItem(below, IDC_WRAP_LIST);
    ASSERT_EQ(GetFocus(), list);
    bool belowEnabled = false;
    HWND nestedForeground = nullptr;
    onMessage = [&](HWND, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
            belowEnabled = IsWindowEnabled(below);
            keys::SetInputSource([&]() -> std::optional<keys::Key> {
                nestedForeground = GetForegroundWindow();
                keys::SetInputSource(nullptr);
                return keys::kBack;
            });
            EXPECT_EQ(DialogBoxIndirectParamW(module, Template(IDD_FORM), nullptr, InnerProc, 0),
                      7);
            return TRUE;
        }
        return message == WM_INITDIALOG;
    };
    SendMessageW(below, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    EXPECT_TRUE(belowEnabled);
    EXPECT_NE(nestedForeground, below);
    EXPECT_NE(nestedForeground, nullptr);
    // The screen below is in front again, with the focus where it was.
    EXPECT_EQ(GetForegroundWindow(), below);
    EXPECT_EQ(GetFocus(), list);
}

TEST_F(WindowDialogTest, AModalDialogWithAnOwnerDisablesItUntilItEnds) {
    HWND owner = Open(IDD_TEXTS);
    bool ownerEnabledMeanwhile = true;
    keys::SetInputSource([&]() -> std::optional<keys::Key> {
        ownerEnabledMeanwhile = IsWindowEnabled(owner);
        return keys::kBack;
    });
    EXPECT_EQ(DialogBoxIndirectParamW(module, Template(IDD_FORM), owner, InnerProc, 0), 7);
    EXPECT_FALSE(ownerEnabledMeanwhile);
    EXPECT_TRUE(IsWindowEnabled(owner));
}

TEST_F(WindowDialogTest, DefDlgProcTurnsCloseIntoIdCancelAndReturnsTheMessageResult) {
    onMessage = [](HWND dialog, UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_USER) {
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 55);
            return TRUE;
        }
        return message == WM_INITDIALOG;
    };
    HWND dialog = Open(IDD_TEXTS);
    EXPECT_EQ(SendMessageW(dialog, WM_USER, 0, 0), 55);
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    wm::ProcessPendingMessages();
    EXPECT_EQ(CountCommands(IDCANCEL, BN_CLICKED), 1);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(GetWindowLongPtrW(dialog, DWLP_DLGPROC), reinterpret_cast<LONG_PTR>(RecordingProc));
}

TEST_F(WindowDialogTest, EndDialogOnAModelessDialogHidesItAndFocusMovesOn) {
    HWND first = Open(IDD_FORM);
    HWND second = Open(IDD_SPINNERS);
    EXPECT_EQ(GetForegroundWindow(), second);
    EXPECT_TRUE(EndDialog(second, 4));
    EXPECT_FALSE(IsWindowVisible(second));
    EXPECT_EQ(GetForegroundWindow(), first);
    EXPECT_EQ(GetFocus(), GetDlgItem(first, IDC_EDIT));
    EXPECT_FALSE(EndDialog(GetDlgItem(first, IDC_EDIT), 1));
}

TEST_F(WindowDialogTest, DialogItemHelpersReachControlsById) {
    HWND dialog = Open(IDD_FORM);
    EXPECT_TRUE(SetDlgItemTextW(dialog, IDC_EDIT, u"\\Musique\\"));
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_EDIT, WM_GETTEXTLENGTH, 0, 0), 9);
    WCHAR text[16];
    EXPECT_EQ(GetDlgItemTextW(dialog, IDC_EDIT, text, 16), 9u);
    EXPECT_EQ(std::u16string(text), u"\\Musique\\");
    EXPECT_EQ(GetDlgItem(dialog, 4242), nullptr);
    text[0] = u'#';
    EXPECT_EQ(GetDlgItemTextW(dialog, 4242, text, 16), 0u);
    EXPECT_EQ(text[0], 0);
    EXPECT_FALSE(SetDlgItemTextW(dialog, 4242, u"x"));
    EXPECT_EQ(SendDlgItemMessageW(dialog, 4242, LB_GETCOUNT, 0, 0), 0);
}

}  // namespace
