// Controls as the screens use them: the list box and its current entry, the spinner stepping its
// buddy list (wrapping or stopping at the ends), the expanded list, and the edit field's text,
// caret and Back key.
#include "window_fixture.h"

#include "platform/comctl32/updown.h"

namespace {

class WindowControlsTest : public WindowTest {
  protected:
    void SetUp() override {
        dialog = Open(IDD_SPINNERS);
        Fill(dialog, IDC_WRAP_LIST, {u"Alarme", u"Bach", u"Carillon"});
        Fill(dialog, IDC_STOP_LIST, {u"1 seconde", u"2 secondes", u"3 secondes"});
        received.clear();
    }

    std::u16string EditText() {
        WCHAR text[64];
        GetDlgItemTextW(dialog, IDC_EDIT, text, 64);
        return text;
    }

    std::size_t Caret() {
        DWORD caret = 0;
        SendDlgItemMessageW(dialog, IDC_EDIT, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
        return caret;
    }

    void FocusEdit() {
        SetFocus(GetDlgItem(dialog, IDC_EDIT));
        received.clear();
    }

    HWND dialog = nullptr;
};

// ---- List box ----

TEST_F(WindowControlsTest, AnUnsortedListKeepsEntriesInTheOrderAdded) {
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_ADDSTRING, 0,
                                  reinterpret_cast<LPARAM>(u"Aube")),
              3);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_GETTEXTLEN, 3, 0), 4);
    WCHAR text[16];
    EXPECT_EQ(
        SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(text)),
        4);
    EXPECT_EQ(std::u16string(text), u"Bach");
    EXPECT_EQ(
        SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_GETTEXT, 4, reinterpret_cast<LPARAM>(text)),
        LB_ERR);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_GETTEXTLEN, -1, 0), LB_ERR);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_FINDSTRINGEXACT, -1,
                                  reinterpret_cast<LPARAM>(u"carillon")),
              2);
}

TEST_F(WindowControlsTest, TheCurrentEntryIsSetClearedAndRefusedOutOfRange) {
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), LB_ERR);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 2);
    // -1 clears and still answers LB_ERR; out of range answers LB_ERR and clears too.
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1), 0),
              LB_ERR);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), LB_ERR);
    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, 1, 0);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, 3, 0), LB_ERR);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), LB_ERR);
    // The program's own changes are not the user's: no LBN_SELCHANGE.
    EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SELCHANGE), 0);

    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, 1, 0);
    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_RESETCONTENT, 0, 0);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), LB_ERR);
}

TEST_F(WindowControlsTest, InsertingAndDeletingKeepTheCurrentEntryOnItsText) {
    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, 1, 0);
    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_INSERTSTRING, 0,
                        reinterpret_cast<LPARAM>(u"Premier"));
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 2);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_DELETESTRING, 0, 0), 3);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 1);
    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_DELETESTRING, 1, 0);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), LB_ERR);
}

// ---- Spinner ----

TEST_F(WindowControlsTest, TheSpinnerWrapsForwardFromTheLastEntryAndBackFromTheFirst) {
    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, 1, 0);
    keys::Press(keys::kRight);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 2);
    keys::Press(keys::kRight);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 0);
    keys::Press(keys::kLeft);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 2);
    keys::Press(keys::kLeft);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 1);
    EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SELCHANGE), 4);
    // Only the list with the focus turns.
    EXPECT_EQ(CurrentOf(dialog, IDC_STOP_LIST), LB_ERR);
}

TEST_F(WindowControlsTest, WithoutWrapTheSpinnerStopsAtBothEnds) {
    keys::Press(keys::kDown);
    ASSERT_EQ(GetFocus(), GetDlgItem(dialog, IDC_STOP_LIST));
    SendDlgItemMessageW(dialog, IDC_STOP_LIST, LB_SETCURSEL, 1, 0);
    received.clear();
    keys::Press(keys::kRight);
    keys::Press(keys::kRight);
    EXPECT_EQ(CurrentOf(dialog, IDC_STOP_LIST), 2);
    keys::Press(keys::kLeft);
    keys::Press(keys::kLeft);
    keys::Press(keys::kLeft);
    EXPECT_EQ(CurrentOf(dialog, IDC_STOP_LIST), 0);
    // Steps that change nothing tell nothing.
    EXPECT_EQ(CountCommands(IDC_STOP_LIST, LBN_SELCHANGE), 3);
}

TEST_F(WindowControlsTest, ASpinnerOverAListWithoutCurrentEntryStartsAtAnEnd) {
    keys::Press(keys::kLeft);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 2);
    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    keys::Press(keys::kRight);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 0);
    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_RESETCONTENT, 0, 0);
    keys::Press(keys::kRight);
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), LB_ERR);
}

TEST_F(WindowControlsTest, TheActionKeyOpensTheWholeListAndPicksFromIt) {
    SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, 0, 0);
    keys::Press(keys::kAction);
    HWND spinner = GetDlgItem(dialog, IDC_WRAP_SPIN);
    ASSERT_EQ(wm::KeyCapture(), spinner);
    EXPECT_EQ(updown::OpenListHighlight(spinner), 0);
    keys::Press(keys::kDown);
    keys::Press(keys::kDown);
    keys::Press(keys::kDown);  // stops at the last entry
    EXPECT_EQ(updown::OpenListHighlight(spinner), 2);
    keys::Press(keys::kUp);
    // The open list takes the keys: the focus has not moved and nothing is chosen yet.
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_WRAP_LIST));
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 0);
    keys::Press(keys::kAction);
    EXPECT_EQ(wm::KeyCapture(), nullptr);
    EXPECT_FALSE(updown::OpenListHighlight(spinner).has_value());
    EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), 1);
    EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SELCHANGE), 1);
    EXPECT_EQ(CountCommands(IDOK, 0), 0);
}

// Back and the right soft key ("Annuler") close it unchanged; the left soft key ("OK") picks.
TEST_F(WindowControlsTest, TheSoftKeysAndBackCloseTheWholeList) {
    const struct {
        keys::Key key;
        int current;
    } cases[] = {{keys::kBack, 2}, {keys::kSoftKey2, 2}, {keys::kSoftKey1, 1}};
    for (const auto& c : cases) {
        SendDlgItemMessageW(dialog, IDC_WRAP_LIST, LB_SETCURSEL, 2, 0);
        received.clear();
        keys::Press(keys::kAction);
        keys::Press(keys::kUp);
        keys::Press(c.key);
        EXPECT_EQ(wm::KeyCapture(), nullptr);
        EXPECT_EQ(CurrentOf(dialog, IDC_WRAP_LIST), c.current);
        EXPECT_EQ(CountCommands(IDC_WRAP_LIST, LBN_SELCHANGE), c.current == 2 ? 0 : 1);
        EXPECT_EQ(CountCommands(IDCANCEL, 0), 0);
        EXPECT_EQ(CountCommands(IDOK, 0), 0);
        EXPECT_TRUE(IsWindow(dialog));
    }
}

TEST_F(WindowControlsTest, ASpinnerWithoutExpandableLeavesTheActionKeyToTheDialog) {
    keys::Press(keys::kDown);
    keys::Press(keys::kAction);
    EXPECT_EQ(wm::KeyCapture(), nullptr);
    EXPECT_EQ(CountCommands(IDOK, 0), 1);
}

TEST_F(WindowControlsTest, DestroyingTheDialogClosesAnOpenList) {
    keys::Press(keys::kAction);
    ASSERT_NE(wm::KeyCapture(), nullptr);
    DestroyWindow(dialog);
    EXPECT_EQ(wm::KeyCapture(), nullptr);
    EXPECT_FALSE(keys::Press(keys::kAction));
}

// ---- Edit field ----

TEST_F(WindowControlsTest, TypedCharactersGoInAtTheCaretWhichArrowsMove) {
    FocusEdit();
    EXPECT_EQ(EditText(), u"abc");
    EXPECT_EQ(Caret(), 3u);
    keys::Press(keys::Key::Char(u'd'));
    keys::Press(keys::kLeft);
    keys::Press(keys::kLeft);
    keys::Press(keys::Key::Char(u'\\'));
    keys::Press(keys::Key::Char(u'é'));
    EXPECT_EQ(EditText(), u"ab\\écd");
    EXPECT_EQ(Caret(), 4u);
    keys::Press(keys::kRight);
    keys::Press(keys::kRight);
    keys::Press(keys::kRight);  // stops at the end
    EXPECT_EQ(Caret(), 6u);
    keys::Press(keys::Key::Digit(5));
    EXPECT_EQ(EditText(), u"ab\\écd5");
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_EDIT, WM_GETTEXTLENGTH, 0, 0), 7);
    EXPECT_GE(CountCommands(IDC_EDIT, EN_CHANGE), 4);
    // Up and down still move between fields.
    keys::Press(keys::kDown);
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_WRAP_LIST));
    EXPECT_EQ(CountCommands(IDC_EDIT, EN_KILLFOCUS), 1);
}

TEST_F(WindowControlsTest, ABackspaceDeletesTheCharacterBeforeTheCaret) {
    FocusEdit();
    HWND edit = GetDlgItem(dialog, IDC_EDIT);
    SendMessageW(edit, WM_CHAR, VK_BACK, 1);
    EXPECT_EQ(EditText(), u"ab");
    keys::Press(keys::kLeft);
    keys::Press(keys::kLeft);
    SendMessageW(edit, WM_CHAR, VK_BACK, 1);  // nothing before the caret
    EXPECT_EQ(EditText(), u"ab");
    keys::Press(keys::kRight);
    SendMessageW(edit, WM_CHAR, VK_BACK, 1);
    EXPECT_EQ(EditText(), u"b");
    EXPECT_EQ(Caret(), 0u);
}

// A character outside the BMP is two UTF-16 units: every edit takes or leaves it whole.
TEST_F(WindowControlsTest, ACharacterOutsideTheBmpIsNeverCutInTwo) {
    const std::u16string note = u"\U0001F3B5";  // one character, two units
    HWND edit = GetDlgItem(dialog, IDC_EDIT);
    struct Case {
        const char* what;
        std::function<void()> act;
        std::u16string text;
        std::size_t caret;
    };
    const Case cases[] = {
        {"Back after it", [&] { SendMessageW(edit, WM_CHAR, VK_BACK, 1); }, u"a", 1},
        {"Left then Delete",
         [&] {
             keys::Press(keys::kLeft);
             SendMessageW(edit, WM_KEYDOWN, VK_DELETE, 1);
         },
         u"a", 1},
        {"Left", [&] { keys::Press(keys::kLeft); }, u"a" + note, 1},
        {"Home, Right, Right",
         [&] {
             SendMessageW(edit, WM_KEYDOWN, VK_HOME, 1);
             keys::Press(keys::kRight);
             keys::Press(keys::kRight);
         },
         u"a" + note, 3},
        {"a selection that ends inside it", [&] { SendMessageW(edit, EM_SETSEL, 0, 2); },
         u"a" + note, 3},
        {"a limit that falls inside it",
         [&] {
             SendMessageW(edit, EM_LIMITTEXT, 4, 0);
             SendMessageW(edit, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(note.c_str()));
         },
         u"a" + note, 3},
        {"typed with room for one half, then a letter",
         [&] {
             SendMessageW(edit, EM_LIMITTEXT, 4, 0);
             keys::Press(keys::Key::Char(note[0]));
             keys::Press(keys::Key::Char(note[1]));
             keys::Press(keys::Key::Char(u'x'));
         },
         u"a" + note + u"x", 4},
    };
    for (const Case& c : cases) {
        SendMessageW(edit, EM_LIMITTEXT, 0, 0);
        SetWindowTextW(edit, (u"a" + note).c_str());
        FocusEdit();
        c.act();
        EXPECT_EQ(EditText(), c.text) << c.what;
        EXPECT_EQ(Caret(), c.caret) << c.what;
    }
}

TEST_F(WindowControlsTest, NewTextPutsTheCaretAtItsEnd) {
    SetDlgItemTextW(dialog, IDC_EDIT, u"\\Mes sons\\");
    EXPECT_EQ(Caret(), 10u);
    SendDlgItemMessageW(dialog, IDC_EDIT, EM_SETSEL, 0, 3);
    EXPECT_EQ(Caret(), 3u);
    SendDlgItemMessageW(dialog, IDC_EDIT, EM_LIMITTEXT, 11, 0);
    FocusEdit();
    SendDlgItemMessageW(dialog, IDC_EDIT, EM_SETSEL, 0, -1);
    keys::Press(keys::Key::Char(u'x'));
    keys::Press(keys::Key::Char(u'y'));
    EXPECT_EQ(EditText(), u"\\Mes sons\\x");
    EXPECT_EQ(CountCommands(IDC_EDIT, EN_MAXTEXT), 1);
}

TEST_F(WindowControlsTest, GetDlgItemTextCutsToTheBufferAndNeverOverruns) {
    SetDlgItemTextW(dialog, IDC_EDIT, u"\\IPSM\\Application Data\\Sounds\\");
    WCHAR buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetDlgItemTextW(dialog, IDC_EDIT, buffer, 6), 5u);
    EXPECT_EQ(std::u16string(buffer), u"\\IPSM");
    EXPECT_EQ(buffer[6], u'#');
    EXPECT_EQ(buffer[7], u'#');

    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetDlgItemTextW(dialog, IDC_EDIT, buffer, 0), 0u);
    EXPECT_EQ(buffer[0], u'#');

    // The screens' way: the length first, then a buffer of length + 1.
    auto length = SendDlgItemMessageW(dialog, IDC_EDIT, WM_GETTEXTLENGTH, 0, 0);
    std::u16string whole(static_cast<std::size_t>(length) + 1, u'#');
    EXPECT_EQ(GetDlgItemTextW(dialog, IDC_EDIT, whole.data(), static_cast<int>(length) + 1),
              static_cast<UINT>(length));
    EXPECT_EQ(whole.substr(0, length), u"\\IPSM\\Application Data\\Sounds\\");
    EXPECT_EQ(whole[length], 0);
}

TEST_F(WindowControlsTest, StaticTextKeepsItsLineBreaks) {
    HWND texts = Open(IDD_TEXTS);
    EXPECT_EQ(GetDlgItemTextW(texts, IDC_MULTILINE, nullptr, 10), 0u);
    WCHAR text[32];
    GetDlgItemTextW(texts, IDC_MULTILINE, text, 32);
    EXPECT_EQ(std::u16string(text), u"Tavonne\nVersion 1.0");
    EXPECT_EQ(GetFocus(), nullptr);
}

}  // namespace
