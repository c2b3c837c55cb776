// The screens' procedures driven through the window system with keys: the About screen, the
// debug check, and the main screen's guarded cases.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "catalogue/catalogue.h"
#include "base/debug.h"
#include "platform/testing/testing.h"
#include "platform/user32/keys.h"
#include "platform/shell32/launch.h"
#include "platform/kernel32/resources.h"
#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"
#include "res/resource.h"
#include "screens/screens.h"
#include "settings/settings.h"
#include "support/files.h"
#include "support/temp_device.h"

namespace {

class Screens : public DeviceTest {
  protected:
    Screens() {
        wm::ResetForTesting();
        AppInstance = resources::ModuleNamed("tavonne");
        keys::SetInputExhaustedHandler([this] { ++inputRanOut; });
    }
    ~Screens() override {
        keys::ResetForTesting();
        wm::ResetForTesting();
    }

    // Gives these keys one by one; before each, `look` sees the screen in front.
    void Type(std::vector<keys::Key> typed, std::function<void(HWND)> look = nullptr) {
        auto next = std::make_shared<size_t>(0);
        keys::SetInputSource([typed, look, next]() -> std::optional<keys::Key> {
            if (*next >= typed.size())
                return std::nullopt;
            if (look)
                look(wm::Foreground());
            return typed[(*next)++];
        });
    }

    static std::u16string Title(HWND window) {
        WCHAR title[64] = {};
        GetWindowTextW(window, title, 64);
        return title;
    }

    static std::u16string Text(HWND screen, int id) {
        WCHAR text[256] = {};
        GetDlgItemTextW(screen, id, text, 256);
        return text;
    }

    int inputRanOut = 0;
};

TEST_F(Screens, AboutScreenShowsItsTextsAndEndsWithOk) {
    bool looked = false;
    Type({keys::kSoftKey1}, [&](HWND about) {
        looked = true;
        EXPECT_EQ(Title(about), u"A propos...");
        EXPECT_EQ(Text(about, IDC_ABOUT_TITLE), u"Tavonne\nVersion 1.0");
        EXPECT_FALSE(Text(about, IDC_ABOUT_TEXT).empty());
        const auto icon = classes::IconOf(GetDlgItem(about, -1));
        ASSERT_TRUE(icon.has_value());
        EXPECT_EQ(icon->id, IDI_APP);
    });
    EXPECT_EQ(RunScreen(IDD_ABOUT, AboutScreenProc), 0);
    EXPECT_TRUE(looked);
    EXPECT_EQ(inputRanOut, 0);
}

TEST_F(Screens, AboutScreenEndsOnCancelAndIgnoresOtherCommands) {
    Type({keys::kBack}, [](HWND about) {
        // Neither another command nor "OK" with a notification code ends the screen.
        SendMessageW(about, WM_COMMAND, MAKEWPARAM(IDM_DONE, 0), 0);
        SendMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, LBN_SETFOCUS), 0);
        EXPECT_TRUE(IsWindowVisible(about));
    });
    // The Back key, not taken by the About screen, arrives as IDCANCEL.
    EXPECT_EQ(RunScreen(IDD_ABOUT, AboutScreenProc), 0);
}

TEST_F(Screens, ScreenWithoutItsMenuBarEndsWithMinusOne) {
    // The tests' own module has dialog 107 but none of the program's menu bars.
    AppInstance = resources::ModuleNamed("screens_missing_menubar");
    EXPECT_EQ(RunScreen(IDD_ABOUT, AboutScreenProc), -1);
    EXPECT_EQ(RunScreen(999, AboutScreenProc), -1);
}

TEST_F(Screens, FailedTitleIsReportedAndInitialisationGoesOn) {
    const std::filesystem::path log = device.Folder().parent_path() / "debug.txt";
    debug::SendToFile(log);
    SetScreenTitle(reinterpret_cast<HWND>(0x7777), u"Tavonne");
    debug::SendToStandardError();
    const std::string text = ReadFile(log);
    const std::string start = "Unknown: DEBUGCHK failed in file ";
    ASSERT_EQ(text.rfind(start, 0), 0u) << text;
    EXPECT_NE(text.find("screens/common.cpp at line "), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 3), " \r\n");
}

TEST_F(Screens, DoneReportsAListWithoutCurrentEntryAndSavesTheOther) {
    EnsureAppKey();
    WriteRingSound(u"\\Windows\\Reggae.mid");
    std::u16string shownText;
    bool cleared = false;
    Type({keys::kSoftKey1, keys::kAction}, [&](HWND front) {
        if (!cleared) {
            cleared = true;
            SendDlgItemMessageW(front, IDC_RING_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
            SendDlgItemMessageW(front, IDC_SMS_LIST, LB_SETCURSEL, 5, 0);
            return;
        }
        if (const auto box = classes::MessageBoxOf(front)) {
            shownText = box->text;
            EXPECT_EQ(box->caption, u"Erreur");
        }
    });
    EXPECT_EQ(RunScreen(IDD_MAIN, MainScreenProc), 0);
    EXPECT_EQ(shownText, u"Erreur pendant la modification du regitre");
    EXPECT_EQ(ReadRingSound(), u"\\Windows\\Reggae.mid");
    EXPECT_EQ(ReadSmsSound(), TonePathTable[5]);
}

// "Terminé" writes both tones whatever becomes of the other; a tone that cannot be written (its
// key is gone) shows the box once for its list, and the main screen stays open.
TEST_F(Screens, DoneWritesBothTonesAndStaysOpenWhileOneCannotBeWritten) {
    const char16_t* const ringKey = u"ControlPanel\\Sounds\\RingTone0";
    const char16_t* const smsKey = u"ControlPanel\\Sounds\\SMS";
    const struct {
        bool ringGone;
        bool smsGone;
        int boxes;
    } cases[] = {{true, false, 1}, {false, true, 1}, {true, true, 2}};
    EnsureAppKey();
    for (const auto& c : cases) {
        for (const char16_t* key : {ringKey, smsKey}) {
            HKEY made = nullptr;
            ASSERT_EQ(
                RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, 0, nullptr, &made, nullptr),
                ERROR_SUCCESS);
            RegCloseKey(made);
        }
        int boxes = 0;
        size_t keysRead = 0;
        // "Terminé", each box closed, then "Annuler" from the menu.
        std::vector<keys::Key> typed{keys::kSoftKey1};
        typed.insert(typed.end(), c.boxes, keys::kAction);
        typed.insert(typed.end(), {keys::kSoftKey2, keys::Key::Digit(4)});
        Type(typed, [&](HWND front) {
            if (keysRead++ == 0) {
                SendDlgItemMessageW(front, IDC_RING_LIST, LB_SETCURSEL, 3, 0);
                SendDlgItemMessageW(front, IDC_SMS_LIST, LB_SETCURSEL, 5, 0);
                if (c.ringGone)
                    RegDeleteTreeW(HKEY_CURRENT_USER, ringKey);
                if (c.smsGone)
                    RegDeleteTreeW(HKEY_CURRENT_USER, smsKey);
            } else if (classes::MessageBoxOf(front)) {
                ++boxes;
            }
        });
        EXPECT_EQ(RunScreen(IDD_MAIN, MainScreenProc), 0);
        EXPECT_EQ(boxes, c.boxes) << c.ringGone << c.smsGone;
        // The screen stayed for "Annuler": every key was read.
        EXPECT_EQ(keysRead, typed.size()) << c.ringGone << c.smsGone;
        EXPECT_EQ(ReadRingSound(), c.ringGone ? u"" : TonePathTable[3]);
        EXPECT_EQ(ReadSmsSound(), c.smsGone ? u"" : TonePathTable[5]);
    }
}

TEST_F(Screens, PlayWithoutCurrentEntryLaunchesNothing) {
    EnsureAppKey();
    std::vector<std::u16string> launched;
    platform::SetLaunchObserver([&](std::u16string_view, std::u16string_view parameters) {
        launched.emplace_back(parameters);
    });
    bool cleared = false;
    Type({keys::kSoftKey2, keys::Key::Digit(1), keys::kDown, keys::kSoftKey2, keys::Key::Digit(1),
          keys::kSoftKey2, keys::Key::Digit(4)},
         [&](HWND front) {
             if (!cleared) {
                 cleared = true;
                 SendDlgItemMessageW(front, IDC_RING_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1),
                                     0);
             }
         });
    EXPECT_EQ(RunScreen(IDD_MAIN, MainScreenProc), 0);
    // Only the SMS list's "Jouer" launched the player.
    EXPECT_EQ(launched, std::vector<std::u16string>{ReadSmsSound()});
}

}  // namespace
