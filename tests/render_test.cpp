// The phone screen as the renderer draws it: the character grid, text fitting and wrapping,
// and snapshots of screens made from the window system tests' dialogs and the program's own.
#include <windows.h>
#include <aygshell.h>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "data/window_test.h"
#include "platform/user32/keys.h"
#include "platform/phone/render.h"
#include "platform/kernel32/resources.h"
#include "platform/user32/window_manager.h"
#include "res/resource.h"
#include "screens/screens.h"
#include "support/temp_device.h"

namespace {

using render::Grid;

// The rows of a screen as Grid::Text gives them: the rows given, then empty rows to the end.
std::string Screen(std::initializer_list<std::string> rows) {
    std::string text;
    int count = 0;
    for (const std::string& row : rows) {
        text += row + "\n";
        ++count;
    }
    for (; count < render::kRows; ++count)
        text += "\n";
    return text;
}

std::vector<std::string> RowsOf(const Grid& grid) {
    std::vector<std::string> rows;
    for (int row = 0; row < grid.Rows(); ++row)
        rows.push_back(grid.RowText(row));
    return rows;
}

// ---- The grid ----

TEST(GridTest, KeepsAccentedLettersAsCharactersAndDropsTrailingBlanks) {
    Grid grid;
    EXPECT_EQ(grid.Put(2, 1, u"Répétition é"), 14);
    EXPECT_EQ(grid.RowText(1), "  Répétition é");
    EXPECT_EQ(grid.At(3, 1).ch, U'é');
    EXPECT_EQ(grid.RowText(0), "");
}

TEST(GridTest, WideCharactersTakeTwoCellsAndMarksJoinTheirLetter) {
    Grid grid;
    // "e" and a combining acute accent, then a wide character.
    int end = grid.Put(0, 0, u"e\u0301\u97F3x");
    EXPECT_EQ(end, 4);
    EXPECT_EQ(grid.At(0, 0).mark, U'\u0301');
    EXPECT_EQ(grid.At(1, 0).ch, U'\u97F3');
    EXPECT_TRUE(grid.At(2, 0).continuation);
    EXPECT_EQ(grid.RowText(0), "e\u0301\u97F3x");
    // Writing over the right half of a wide character blanks its left half too.
    grid.Put(2, 0, u"y");
    EXPECT_EQ(grid.RowText(0), "e\u0301 yx");
}

TEST(GridTest, ShowsBrokenTextAndControlCharactersHarmlessly) {
    Grid grid;
    std::u16string text = u"a";
    text += char16_t{0xDC80};  // a byte that was not UTF-8
    text += u"\tb";
    grid.Put(0, 0, text);
    EXPECT_EQ(grid.RowText(0), "a\uFFFD?b");
}

TEST(GridTest, WritesNothingOutsideItsCellsOrPastTheEnd) {
    Grid grid;
    EXPECT_EQ(grid.Put(28, 0, u"abcdef"), 30);
    EXPECT_EQ(grid.RowText(0), std::string(28, ' ') + "ab");
    grid.Put(0, 1, u"abcdef", render::kPlain, 3);
    EXPECT_EQ(grid.RowText(1), "abc");
    grid.Put(-2, 2, u"abcd");
    EXPECT_EQ(grid.RowText(2), "cd");
    grid.Put(0, render::kRows, u"nowhere");
    grid.Put(0, -1, u"nowhere");
    EXPECT_EQ(grid.At(-1, -1).ch, U' ');
    EXPECT_EQ(grid.At(0, render::kRows).ch, U' ');
}

TEST(TextTest, FitCutsWithAnEllipsis) {
    EXPECT_EQ(render::Fit(u"Standard", 8), u"Standard");
    EXPECT_EQ(render::Fit(u"Les principes de Bach", 10), u"Les princ…");
    EXPECT_EQ(render::Fit(u"abc", 0), u"");
    EXPECT_EQ(render::TextWidth(u"Début"), 5);
}

TEST(TextTest, WrapBreaksAtLineBreaksAndBlanks) {
    using Lines = std::vector<std::u16string>;
    EXPECT_EQ(render::Wrap(u"Conçu et réalisé par l'équipe Tavonne.", 29),
              (Lines{u"Conçu et réalisé par l'équipe", u"Tavonne."}));
    EXPECT_EQ(render::Wrap(u"un deux\n\ntrois", 30), (Lines{u"un deux", u"", u"trois"}));
    EXPECT_EQ(render::Wrap(u"un  deux", 4), (Lines{u"un", u"deux"}));
    // A word longer than the line is cut where the line ends.
    EXPECT_EQ(render::Wrap(u"\\IPSM\\Application", 8), (Lines{u"\\IPSM\\Ap", u"plicatio", u"n"}));
}

TEST(ScaleTest, TheDisplayFillsTheColumnsAndARowIsEightUnits) {
    EXPECT_EQ(render::ColumnOf(0), 0);
    EXPECT_EQ(render::ColumnOf(wm::TheDisplay().width), render::kColumns);
    EXPECT_EQ(render::ColumnOf(4), 1);
    EXPECT_EQ(render::ColumnOf(29), 8);
    EXPECT_EQ(render::RowOf(4), 0);
    EXPECT_EQ(render::RowOf(17), 2);
    EXPECT_EQ(render::RowOf(47), 6);
    EXPECT_LE(render::RowOf(wm::TheDisplay().height), render::kClientRows);
}

// ---- Screens ----

// Each screen is run by this procedure: `setUp` does what a screen's initialisation would.
std::function<void(HWND)> setUp;

INT_PTR CALLBACK ScreenProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG)
        return FALSE;
    if (setUp)
        setUp(dialog);
    return TRUE;
}

class RenderTest : public DeviceTest {
  protected:
    RenderTest() {
        wm::ResetForTesting();
        setUp = nullptr;
        tests = resources::ModuleNamed("window_test");
        program = resources::ModuleNamed("tavonne");
    }
    ~RenderTest() override {
        wm::ResetForTesting();
        setUp = nullptr;
    }

    // A modeless screen from a template: full screen with the menu bar and the title given.
    HWND Open(HINSTANCE module, int id, UINT menuBar, std::u16string title,
              std::function<void(HWND)> more = nullptr) {
        setUp = [=](HWND dialog) {
            SHMENUBARINFO bar{};
            bar.cbSize = sizeof bar;
            bar.hwndParent = dialog;
            bar.nToolBarId = menuBar;
            bar.hInstRes = module;
            EXPECT_TRUE(SHCreateMenuBar(&bar));
            SHINITDLGINFO full{SHIDIM_FLAGS, dialog, SHIDIF_SIZEDLGFULLSCREEN};
            EXPECT_TRUE(SHInitDialog(&full));
            ShowWindow(bar.hwndMB, SW_SHOW);
            SetWindowTextW(dialog, title.c_str());
            if (more)
                more(dialog);
        };
        HRSRC found = FindResourceW(module, MAKEINTRESOURCE(id), RT_DIALOG);
        EXPECT_NE(found, nullptr);
        auto dialogTemplate = static_cast<LPCDLGTEMPLATEW>(LoadResource(module, found));
        HWND dialog = CreateDialogIndirectParamW(module, dialogTemplate, nullptr, ScreenProc, 0);
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }

    static void Fill(HWND dialog, int id, std::vector<std::u16string> entries, int current = 0) {
        for (const std::u16string& entry : entries)
            SendDlgItemMessageW(dialog, id, LB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(entry.c_str()));
        SendDlgItemMessageW(dialog, id, LB_SETCURSEL, current, 0);
    }

    // The spinners' screen of the tests, filled as the program's main screen would be.
    HWND Spinners() {
        return Open(tests, IDD_SPINNERS, IDR_POPUP_BAR, u"Tavonne", [](HWND dialog) {
            Fill(dialog, IDC_WRAP_LIST, {u"Standard", u"Alarm1", u"Les principes de Bach"});
            Fill(dialog, IDC_STOP_LIST, {u"Un", u"Deux"});
        });
    }

    static std::string Drawn() { return render::DrawScreen().Text(); }

    HINSTANCE tests = nullptr;
    HINSTANCE program = nullptr;
};

TEST_F(RenderTest, NothingOpenIsABlankScreen) {
    EXPECT_EQ(Drawn(), Screen({}));
}

TEST_F(RenderTest, AScreenShowsItsTitleControlsAndSoftKeys) {
    Spinners();
    EXPECT_EQ(Drawn(), Screen({
                           "Tavonne",
                           " Sonnerie principale :",
                           "",
                           ">◀ Standard              ▶",
                           "",
                           "",
                           "",
                           "   Un                    ▶",
                           "",
                           "",
                           "",
                           " [abc                     ]",
                           "",
                           "",
                           "",
                           "",
                           "",
                           "Terminé                 Menu ▲",
                       }));
    // The bars stand out on a terminal; nothing else is reversed.
    Grid grid = render::DrawScreen();
    EXPECT_TRUE(grid.At(29, render::kTitleRow).attributes & render::kReverse);
    EXPECT_TRUE(grid.At(12, render::kSoftKeyRow).attributes & render::kReverse);
    EXPECT_FALSE(grid.At(5, 3).attributes & render::kReverse);
}

TEST_F(RenderTest, TheFocusMarkFollowsTheFocusAndTheCaretShowsInAFocusedField) {
    Spinners();
    keys::Press(keys::kDown);
    std::vector<std::string> rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[3], " ◀ Standard              ▶");
    EXPECT_EQ(rows[7], ">  Un                    ▶");
    keys::Press(keys::kDown);
    rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[7], "   Un                    ▶");
    EXPECT_EQ(rows[11], ">[abc▏                    ]");
    keys::Press(keys::kLeft);
    EXPECT_EQ(RowsOf(render::DrawScreen())[11], ">[ab▏c                    ]");
}

TEST_F(RenderTest, SpinnersTurnAndShowAnArrowOnlyWhereAStepLeads) {
    Spinners();
    keys::Press(keys::kRight);
    keys::Press(keys::kRight);
    std::vector<std::string> rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[3], ">◀ Les principes de Bach ▶");
    // The second spinner stops at its ends: at the last entry only the left arrow is left.
    keys::Press(keys::kDown);
    keys::Press(keys::kRight);
    rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[7], ">◀ Deux");
}

TEST_F(RenderTest, AnEntryLongerThanTheSpinnerIsCut) {
    Open(tests, IDD_SPINNERS, IDR_POPUP_BAR, u"Tavonne",
         [](HWND dialog) { Fill(dialog, IDC_WRAP_LIST, {u"Une sonnerie au nom bien trop long"}); });
    EXPECT_EQ(RowsOf(render::DrawScreen())[3], ">◀ Une sonnerie au nom…  ▶");
}

TEST_F(RenderTest, ThePopUpMenuStandsOverItsSoftKeyWithNumberedItems) {
    Spinners();
    keys::Press(keys::kSoftKey2);
    std::string expected = Screen({
        "Tavonne",
        " Sonnerie principale :",
        "",
        ">◀ Standard              ▶",
        "",
        "",
        "",
        "   Un                    ▶",
        "",
        "",
        "            ┌────────────────┐",
        " [abc       │>1 Jouer        │",
        "            │────────────────│",
        "            │ 2 Paramètres   │",
        "            │ 3 Grisé        │",
        "            │ 4 A propos ... │",
        "            └────────────────┘",
        "Terminé                 Menu ▲",
    });
    EXPECT_EQ(Drawn(), expected);
    Grid grid = render::DrawScreen();
    EXPECT_TRUE(grid.At(15, 11).attributes & render::kReverse);
    EXPECT_TRUE(grid.At(15, 14).attributes & render::kDim);

    // The highlight passes over the separator.
    keys::Press(keys::kDown);
    std::vector<std::string> rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[11], " [abc       │ 1 Jouer        │");
    EXPECT_EQ(rows[13], "            │>2 Paramètres   │");

    // Closed again, the screen is whole.
    keys::Press(keys::kBack);
    EXPECT_EQ(RowsOf(render::DrawScreen())[11], " [abc                     ]");
}

TEST_F(RenderTest, AnExpandedSpinnerShowsItsWholeListScrolledToTheHighlight) {
    std::vector<std::u16string> entries;
    for (int i = 1; i <= 30; ++i) {
        std::u16string name = u"Sonnerie ";
        name += static_cast<char16_t>(u'0' + i / 10);
        name += static_cast<char16_t>(u'0' + i % 10);
        entries.push_back(name);
    }
    Open(tests, IDD_SPINNERS, IDR_POPUP_BAR, u"Tavonne",
         [&](HWND dialog) { Fill(dialog, IDC_WRAP_LIST, entries, 1); });
    keys::Press(keys::kAction);
    std::vector<std::string> rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[0], "Tavonne");
    EXPECT_EQ(rows[1], "┌────────────────────────────┐");
    EXPECT_EQ(rows[2], "│ Sonnerie 01                │");
    EXPECT_EQ(rows[3], "│>Sonnerie 02                │");
    EXPECT_EQ(rows[15], "│ Sonnerie 14                │");
    EXPECT_EQ(rows[16], "└───────────────────────────▼┘");
    // The soft keys do nothing while the list is open, and are not shown.
    EXPECT_EQ(rows[17], "");

    for (int i = 0; i < 27; ++i)
        keys::Press(keys::kDown);
    rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[1], "┌───────────────────────────▲┐");
    EXPECT_EQ(rows[2], "│ Sonnerie 17                │");
    EXPECT_EQ(rows[14], "│>Sonnerie 29                │");
    EXPECT_EQ(rows[15], "│ Sonnerie 30                │");
    EXPECT_EQ(rows[16], "└────────────────────────────┘");

    keys::Press(keys::kAction);
    rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[3], ">◀ Sonnerie 29           ▶");
    EXPECT_EQ(rows[17], "Terminé                 Menu ▲");
}

TEST_F(RenderTest, AFieldScrollsSoThatTheCaretStaysInView) {
    HWND screen = Open(tests, IDD_FORM, IDR_PLAIN_BAR, u"Paramètres");
    SetDlgItemTextW(screen, IDC_EDIT, u"\\IPSM\\Application Data\\Sounds\\Perso\\");
    std::vector<std::string> rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[0], "Paramètres");
    EXPECT_EQ(rows[1], "  Chercher sonneries dans :");
    // The end of the text, the caret after it, and a sign that more lies to the left.
    EXPECT_EQ(rows[3], ">«tion Data\\Sounds\\Perso\\▏]");
    EXPECT_EQ(rows[17], "Terminé                Annuler");

    for (int i = 0; i < 30; ++i)
        keys::Press(keys::kLeft);
    rows = RowsOf(render::DrawScreen());
    // The caret back before the part shown: the text scrolls to show it with what precedes it.
    EXPECT_EQ(rows[3], ">[\\IPSM\\▏Application Data\\»");
    for (int i = 0; i < 6; ++i)
        keys::Press(keys::kLeft);
    EXPECT_EQ(RowsOf(render::DrawScreen())[3], ">[▏\\IPSM\\Application Data\\»");
}

TEST_F(RenderTest, AMessageBoxFillsTheScreenWithItsTextWrapped) {
    HWND screen = Spinners();
    std::string drawn;
    keys::SetInputSource([&]() -> std::optional<keys::Key> {
        if (!drawn.empty())
            return std::nullopt;
        drawn = Drawn();
        return keys::kSoftKey1;
    });
    EXPECT_EQ(MessageBoxW(screen,
                          u"Le dossier contenant les sonneries n'a pas encore été "
                          u"paramétré!\nVeuillez le paramétrer.",
                          u"Alerte!", MB_OK),
              IDOK);
    EXPECT_EQ(drawn, Screen({
                         "Alerte!",
                         "",
                         " Le dossier contenant les",
                         " sonneries n'a pas encore été",
                         " paramétré!",
                         " Veuillez le paramétrer.",
                         "",
                         "",
                         "",
                         "",
                         "",
                         "",
                         "",
                         "",
                         "",
                         "",
                         "",
                         "OK",
                     }));
    EXPECT_EQ(RowsOf(render::DrawScreen())[0], "Tavonne");
}

TEST_F(RenderTest, OnlyTheScreenInFrontIsDrawn) {
    Spinners();
    HWND form = Open(tests, IDD_FORM, IDR_PLAIN_BAR, u"Paramètres");
    std::string drawn = Drawn();
    EXPECT_EQ(drawn.find("Sonnerie principale"), std::string::npos);
    EXPECT_NE(drawn.find("Chercher sonneries dans :"), std::string::npos);
    DestroyWindow(form);
    EXPECT_EQ(RowsOf(render::DrawScreen())[1], " Sonnerie principale :");
}

TEST_F(RenderTest, TextsKeepTheirLineBreaksAndStayWholeWhereTheRowHasRoom) {
    Open(tests, IDD_TEXTS, IDR_PLAIN_BAR, u"Textes", [](HWND dialog) {
        // Wider than its box (63 units), narrower than the row.
        SetDlgItemTextW(dialog, IDC_MULTILINE, u"Tavonne\nUne ligne plus large");
    });
    std::vector<std::string> rows = RowsOf(render::DrawScreen());
    // Both lines start at the box's column 8, after the icon; the second one runs past the
    // box's right edge (column 26).
    render::Grid grid = render::DrawScreen();
    EXPECT_EQ(grid.At(8, 2).ch, U'T');
    EXPECT_EQ(grid.At(8, 3).ch, U'U');
    EXPECT_TRUE(rows[2].ends_with(" Tavonne"));
    EXPECT_TRUE(rows[3].ends_with(" Une ligne plus large"));
}

TEST_F(RenderTest, AnIconIsDrawnFromItsOwnPixels) {
    Open(tests, IDD_TEXTS, IDR_PLAIN_BAR, u"Textes");
    Grid grid = render::DrawScreen();
    // The icon's box: 3, 7, 21 x 20 units.
    int drawnCells = 0;
    for (int row = 2; row < 5; ++row) {
        for (int column = 1; column < 7; ++column) {
            const render::Cell& cell = grid.At(column, row);
            if (cell.ch == U' ')
                continue;
            ++drawnCells;
            EXPECT_TRUE(cell.ch == U'█' || cell.ch == U'▀' || cell.ch == U'▄') << int(cell.ch);
            EXPECT_NE(cell.foreground, render::kNoColour);
        }
    }
    EXPECT_GT(drawnCells, 3);
}

TEST_F(RenderTest, ADialogThatIsNotFullScreenShowsAtItsPlaceWithItsCaption) {
    HRSRC found = FindResourceW(tests, MAKEINTRESOURCE(IDD_EXTENDED), RT_DIALOG);
    auto dialogTemplate = static_cast<LPCDLGTEMPLATEW>(LoadResource(tests, found));
    setUp = nullptr;
    ASSERT_NE(CreateDialogIndirectParamW(tests, dialogTemplate, nullptr, ScreenProc, 0), nullptr);
    std::vector<std::string> rows = RowsOf(render::DrawScreen());
    EXPECT_EQ(rows[0], "Étendu");
    // At (2, 3) and 6, 3 within: "Ligne un" on the first row, then its second line.
    EXPECT_EQ(rows[2], "  Ligne un");
    EXPECT_EQ(rows[3], "  Ligne deux");
    EXPECT_NE(rows[13].find("[Bouton]"), std::string::npos);
    // No menu bar: an empty soft-key bar.
    EXPECT_EQ(rows[17], "");
}

TEST_F(RenderTest, TheProgramsAboutScreen) {
    ASSERT_NE(program, nullptr);
    AppInstance = program;
    std::string drawn;
    keys::SetInputSource([&]() -> std::optional<keys::Key> {
        if (!drawn.empty())
            return std::nullopt;
        drawn = Drawn();
        return keys::kSoftKey1;
    });
    EXPECT_EQ(RunScreen(IDD_ABOUT, AboutScreenProc), 0);
    // The bell, drawn from the icon's own pixels, beside the title.
    EXPECT_EQ(drawn, Screen({
                         "A propos...",
                         "",
                         "   ▄▄   Tavonne",
                         "  ▄██▄  Version 1.0",
                         "  ▀▀▀▀",
                         "",
                         "",
                         " Vos remarques et idées :",
                         " equipe@tavonne.example",
                         "",
                         " Conçu et réalisé par l'équipe",
                         " Tavonne.",
                         "",
                         "",
                         "",
                         "",
                         "",
                         "OK",
                     }));
}

}  // namespace
