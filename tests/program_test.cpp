// The whole program, run as the real tavonne binary in script mode against a temporary device,
// with the phone's registry read back through tavonne-device.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "device/device_folder.h"
#include "support/audio.h"
#include "support/files.h"
#include "support/program.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;

const std::string kRing = "HKCU\\ControlPanel\\Sounds\\RingTone0";
const std::string kSms = "HKCU\\ControlPanel\\Sounds\\SMS";
const std::string kApp = "HKCU\\Software\\Tavonne";
const std::string kSounds = "\\IPSM\\Application Data\\Sounds\\";

class Program : public DeviceTest {
  protected:
    Program() { EXPECT_EQ(RunDeviceTool({"init"}).exitCode, 0); }

    static void Set(const std::string& key, const std::string& name, const std::string& data) {
        ProgramResult added = RunDeviceTool({"reg", "add", key, "/v", name, "/d", data, "/f"});
        ASSERT_EQ(added.exitCode, 0) << added.err;
    }

    // A value's data as `reg query` prints it, or nullopt when it is missing.
    static std::optional<std::string> Get(const std::string& key, const std::string& name) {
        ProgramResult query = RunDeviceTool({"reg", "query", key, "/v", name});
        if (query.exitCode != 0)
            return std::nullopt;
        const std::string marker = "    REG_SZ    ";
        const size_t at = query.out.find(marker);
        if (at == std::string::npos)
            return "(not REG_SZ)";
        const size_t end = query.out.find('\n', at);
        return query.out.substr(at + marker.size(), end - at - marker.size());
    }

    static fs::path HostPath(const std::string& devicePath) {
        std::string path = RunDeviceTool({"path", devicePath}).out;
        if (!path.empty() && path.back() == '\n')
            path.pop_back();
        return path;
    }

    // Not the first start, and only the tones a test puts in the sounds folder.
    void Configured(const std::string& folder = "") {
        Set(kApp, "Dossier", folder);
        for (const auto& entry : fs::directory_iterator(HostPath(kSounds)))
            fs::remove(entry);
    }
};

// Scenarios of the Linux stand-in alone are skipped against the Windows build, with the reason.
#ifdef TAVONNE_ON_WINDOWS
#define SKIP_ON_WINDOWS(reason) GTEST_SKIP() << reason
#else
#define SKIP_ON_WINDOWS(reason)
#endif

// Desktop Windows gives no sign when a window already in front is brought to the front, so the
// driver of the Windows build has no "event: foreground" to print.
constexpr char kNoForegroundSign[] =
    "Windows shows nothing when the window in front is brought to the front";

// Checks the running copy's "event: foreground" where the platform shows one, and says so in
// the test's output where it does not.
void ExpectBroughtForward(ProgramSession& running) {
#ifdef TAVONNE_ON_WINDOWS
    std::cout << "not checked: event: foreground (" << kNoForegroundSign << ")\n";
#else
    EXPECT_TRUE(running.ReadThrough("event: foreground"));
#endif
}

std::string LogText() {
    return ReadFile(device::LogFile());
}

// Asks `condition` every 20 ms until it holds, for `bound` at most; whether it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// How many times the process's main thread has gone to sleep: it rises while the thread waits
// in a retry loop, and stays while the thread waits for input.
long SleepsOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    const std::string field = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(field.size()));
    }
    return -1;
}

TEST_F(Program, FirstStartAlertsThenOpensSettingsAndKeepsFolderEmptyUntilDone) {
    ProgramSession tavonne(TAVONNE_PROGRAM);
    const std::string alert = tavonne.Snap();
    EXPECT_NE(alert.find("Alerte!"), std::string::npos) << alert;
    EXPECT_NE(alert.find("paramétré!"), std::string::npos) << alert;
    EXPECT_EQ(Get(kApp, "Dossier"), std::nullopt);

    tavonne.Send("ACTION");
    const std::string settings = tavonne.Snap();
    EXPECT_NE(settings.find("Paramètres"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Chercher sonneries dans :"), std::string::npos) << settings;
    EXPECT_EQ(Get(kApp, "Dossier"), "");

    tavonne.Send("TYPE \\Mes Sons\\");
    tavonne.Send("SOFT1");
    const std::string main = tavonne.Snap();
    EXPECT_NE(main.find("Sonnerie principale :"), std::string::npos) << main;
    EXPECT_EQ(Get(kApp, "Dossier"), "\\Mes Sons\\");

    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
}

TEST_F(Program, FirstStartCancelledLeavesTheEmptyFolder) {
    ProgramResult run = RunProgram(TAVONNE_PROGRAM, {}, "ACTION\nSOFT2\nSNAP\nSOFT1\n");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.out.find("Sonnerie principale :"), std::string::npos) << run.out;
    EXPECT_EQ(Get(kApp, "Dossier"), "");
}

TEST_F(Program, DoneWithoutTouchingWritesBackTheSelectedPaths) {
    Configured();
    Set(kRing, "Sound", "\\Ailleurs\\perdu.wav");
    Set(kSms, "Sound", "\\Windows\\Notify.mid");
    ProgramResult run = RunProgram(TAVONNE_PROGRAM, {}, "SOFT1\n");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(Get(kRing, "Sound"), "\\Windows\\Alarm1.mid");  // entry 0
    EXPECT_EQ(Get(kSms, "Sound"), "\\Windows\\Notify.mid");
}

TEST_F(Program, SharedPathIsStoredAndShownAsItsFirstEntry) {
    Configured();
    Set(kRing, "Sound", "\\Windows\\Lowdown.mid");
    {
        ProgramSession tavonne(TAVONNE_PROGRAM);
        EXPECT_NE(tavonne.Snap().find("Lowdown"), std::string::npos);
        tavonne.Send("RIGHT");
        const std::string turned = tavonne.Snap();
        EXPECT_NE(turned.find("Mouvement perpétuel"), std::string::npos) << turned;
        tavonne.Send("SOFT1");
        EXPECT_EQ(tavonne.Finish(), 1);
    }
    EXPECT_EQ(Get(kRing, "Sound"), "\\Windows\\NewTune7.mid");

    ProgramResult again = RunProgram(TAVONNE_PROGRAM, {}, "SNAP\nSOFT2\n4\n");
    EXPECT_NE(again.out.find("Les principes de Bach"), std::string::npos) << again.out;
    EXPECT_EQ(again.out.find("Mouvement perpétuel"), std::string::npos) << again.out;
}

TEST_F(Program, CancelLeavesThePhonesSoundsUntouched) {
    Configured();
    const std::string ringBefore = RunDeviceTool({"reg", "query", kRing}).out;
    const std::string smsBefore = RunDeviceTool({"reg", "query", kSms}).out;
    ProgramResult run = RunProgram(TAVONNE_PROGRAM, {}, "RIGHT\nDOWN\nLEFT\nSOFT2\n4\n");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(RunDeviceTool({"reg", "query", kRing}).out, ringBefore);
    EXPECT_EQ(RunDeviceTool({"reg", "query", kSms}).out, smsBefore);
}

// The start's reads share one read of the registry, which ends when the program waits for a key:
// another process can write meanwhile (it would fail after its busy wait otherwise), and the
// program's own write that follows does not undo it.
TEST_F(Program, AnotherProcessWritesTheRegistryWhileTheProgramWaitsForAKey) {
    Configured();
    ProgramSession tavonne(TAVONNE_PROGRAM);
    EXPECT_NE(tavonne.Snap().find("Tavonne"), std::string::npos);
    Set(kApp, "Autre", "écrit pendant l'attente");
    tavonne.Send("SOFT1");
    EXPECT_EQ(tavonne.Finish(), 1) << tavonne.Errors();
    EXPECT_EQ(Get(kApp, "Autre"), "écrit pendant l'attente");
    EXPECT_EQ(Get(kRing, "Sound"), "\\Windows\\Standard.wav");
}

TEST_F(Program, PlayTakesTheListThatLastHadTheFocus) {
    Configured();
    Set(kRing, "Sound", "\\Windows\\Reggae.mid");
    Set(kSms, "Sound", "\\Windows\\Strum.mid");
    ProgramSession tavonne(TAVONNE_PROGRAM);
    const std::string launch = "event: launch\t\\Windows\\qhandler.exe\t";
    tavonne.Send("SOFT2");
    tavonne.Send("1");
    EXPECT_TRUE(tavonne.ReadThrough(launch + "\\Windows\\Reggae.mid"));

    tavonne.Send("RIGHT");  // the call tone turns to Robotica...
    tavonne.Send("DOWN");   // ...but the SMS list has the focus now
    tavonne.Send("SOFT2");
    tavonne.Send("1");
    EXPECT_TRUE(tavonne.ReadThrough(launch + "\\Windows\\Strum.mid"));

    tavonne.Send("UP");
    tavonne.Send("SOFT2");
    tavonne.Send("1");
    EXPECT_TRUE(tavonne.ReadThrough(launch + "\\Windows\\Robatica.mid"));
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
}

TEST_F(Program, ToneWithBlanksIsHandedToThePlayerAsOneArgument) {
    Configured();
    const std::string tone = kSounds + "Mon air préféré (2).wav";
    fs::copy_file(HostPath("\\Windows\\Standard.wav"), HostPath(tone));
    Set(kRing, "Sound", tone);
    ProgramSession tavonne(TAVONNE_PROGRAM);
    tavonne.Send("SOFT2");
    tavonne.Send("1");
    EXPECT_TRUE(tavonne.ReadThrough("event: launch\t\\Windows\\qhandler.exe\t" + tone));
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);

    // The player runs on its own; it says what it played in the phone's log.
    const std::string played = "qhandler: play \"" + tone + "\": WAV";
    WaitUntil([&] { return LogText().find(played) != std::string::npos; },
              std::chrono::seconds(10));
    EXPECT_NE(LogText().find(played), std::string::npos) << LogText();
}

// Waits for the players of this device to end, up to `seconds`; true when they all have.
bool PlayersEnd(int seconds) {
    return WaitUntil([] { return RunningPlayers().empty(); }, std::chrono::seconds(seconds));
}

TEST_F(Program, PlayIsHeardWholeFromThePlayer) {
    SKIP_ON_WINDOWS("the Windows build's player checks and logs a tone but plays no sound");
    Configured();
    Set(kRing, "Sound", "\\Windows\\Reggae.mid");
    const fs::path out = device.Folder() / "heard.wav";
    setenv("TAVONNE_AUDIO_OUT", out.c_str(), 1);
    ProgramSession tavonne(TAVONNE_PROGRAM);
    tavonne.Send("SOFT2");
    tavonne.Send("1");
    EXPECT_TRUE(
        tavonne.ReadThrough("event: launch\t\\Windows\\qhandler.exe\t\\Windows\\Reggae.mid"));
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
    ASSERT_TRUE(PlayersEnd(20));
    const std::optional<Sound> sound = ReadSound(out);
    ASSERT_TRUE(sound);
    EXPECT_GT(sound->Seconds(), 5);
    EXPECT_GT(sound->Rms(), 300);
}

// SDL's disk driver stands for a sound card: each tone plays as long as it lasts.
TEST_F(Program, FiveQuickPlaysLeaveOnePlayerPlaying) {
    SKIP_ON_WINDOWS("the Windows build's player checks and logs a tone but plays no sound");
    Configured();
    Set(kRing, "Sound", "\\Windows\\AlarmXtra2-Slow.mid");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (device.Folder() / "heard.raw").c_str(), 1);
    ProgramSession tavonne(TAVONNE_PROGRAM);
    for (int i = 0; i < 5; ++i) {
        tavonne.Send("SOFT2");
        tavonne.Send("1");
    }
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(tavonne.ReadThrough(
            "event: launch\t\\Windows\\qhandler.exe\t\\Windows\\AlarmXtra2-Slow.mid"));
    // Once the program has handled the keys, all five players run. A player ends only when a
    // later one stops it (or its tone, 5.8 s long, ends): one left is the one left playing.
    tavonne.Snap();
    WaitUntil([] { return RunningPlayers().size() == 1; }, std::chrono::seconds(3));
    const std::vector<pid_t> players = RunningPlayers();
    EXPECT_EQ(players.size(), 1u);
    for (pid_t player : players)
        kill(player, SIGTERM);
    EXPECT_TRUE(PlayersEnd(5));
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
}

TEST_F(Program, RepeatSpinnerOpensOnTheStoredCodeAndDoneStoresIt) {
    Configured("\\Tones\\");
    Set(kRing, "Script", "apw2r");
    {
        ProgramSession tavonne(TAVONNE_PROGRAM);
        tavonne.Send("SOFT2");
        tavonne.Send("2");
        EXPECT_NE(tavonne.Snap().find("2 secondes"), std::string::npos);
        tavonne.Send("DOWN");
        tavonne.Send("RIGHT");
        EXPECT_NE(tavonne.Snap().find("3 secondes"), std::string::npos);
        tavonne.Send("SOFT1");
        tavonne.Send("SOFT2");
        tavonne.Send("4");
        EXPECT_EQ(tavonne.Finish(), 1);
    }
    EXPECT_EQ(Get(kRing, "Script"), "apw3r");

    Set(kRing, "Script", "APW1R");  // not a code: the spinner opens on "3 secondes"
    ProgramResult run = RunProgram(TAVONNE_PROGRAM, {}, "SOFT2\n2\nSNAP\nDOWN\nRIGHT\nSOFT1\n");
    EXPECT_NE(run.out.find("3 secondes"), std::string::npos) << run.out;
    EXPECT_EQ(run.exitCode, 2);  // input ended on the main screen
    EXPECT_EQ(Get(kRing, "Script"), "apw1r");
}

TEST_F(Program, BackKeyInTheFolderFieldDeletesOneCharacter) {
    Configured("\\Tones\\");
    ProgramSession tavonne(TAVONNE_PROGRAM);
    tavonne.Send("SOFT2");
    tavonne.Send("2");
    tavonne.Send("BACK");
    const std::string settings = tavonne.Snap();
    EXPECT_NE(settings.find("Paramètres"), std::string::npos) << settings;
    EXPECT_NE(settings.find("\\Tones"), std::string::npos) << settings;
    EXPECT_EQ(settings.find("\\Tones\\"), std::string::npos) << settings;
    tavonne.Send("SOFT1");
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
    EXPECT_EQ(Get(kApp, "Dossier"), "\\Tones");
}

TEST_F(Program, SettingsCancelStoresNothing) {
    Configured("\\Tones\\");
    Set(kRing, "Script", "apw2r");
    ProgramResult run =
        RunProgram(TAVONNE_PROGRAM, {}, "SOFT2\n2\nTYPE xyz\nDOWN\nRIGHT\nSOFT2\nSOFT2\n4\n");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(Get(kApp, "Dossier"), "\\Tones\\");
    EXPECT_EQ(Get(kRing, "Script"), "apw2r");
}

TEST_F(Program, AboutScreenComesFromTheMenuAndGoesBack) {
    Configured();
    ProgramSession tavonne(TAVONNE_PROGRAM);
    tavonne.Send("SOFT2");
    tavonne.Send("3");
    const std::string about = tavonne.Snap();
    EXPECT_NE(about.find("A propos..."), std::string::npos) << about;
    EXPECT_NE(about.find("Version 1.0"), std::string::npos) << about;
    tavonne.Send("SOFT1");
    EXPECT_NE(tavonne.Snap().find("Sonnerie principale :"), std::string::npos);
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
}

TEST_F(Program, SecondStartShowsNothingAndBringsTheFirstForward) {
    Configured();
    ProgramSession first(TAVONNE_PROGRAM);
    EXPECT_NE(first.Snap().find("Sonnerie principale :"), std::string::npos);

    ProgramResult second = RunProgram(TAVONNE_PROGRAM, {}, "SNAP\nSOFT1\n");
    EXPECT_EQ(second.exitCode, 1) << second.err;
    EXPECT_EQ(second.out, "");
#ifndef TAVONNE_ON_WINDOWS
    // The stand-in's own word on standard error; the program itself says nothing.
    EXPECT_NE(second.err.find("already runs on this phone"), std::string::npos) << second.err;
#endif
    ExpectBroughtForward(first);

    first.Send("SOFT2");
    first.Send("4");
    EXPECT_EQ(first.Finish(), 1);
    // Once the first copy has ended, a start runs normally.
    ProgramResult third = RunProgram(TAVONNE_PROGRAM, {}, "SNAP\nSOFT2\n4\n");
    EXPECT_EQ(third.exitCode, 1) << third.err;
    EXPECT_NE(third.out.find("Sonnerie principale :"), std::string::npos);
}

// The phone's keys do the same on every screen of both builds. The phone has the tones
// "100% jazz.wav" and "Carillon.wav" in \Sons\, its folder unless a case names another (or none:
// a first start); each case's output must show `shows` and not `hides`, and `folder` is what
// Dossier holds afterwards when given.
struct KeyCase {
    const char* name;
    std::optional<std::string> folder;
    std::string keys;
    std::string shows;
    std::string hides;
    std::optional<std::string> folderAfter;
};

void PrintTo(const KeyCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string kLaunch = "event: launch\t\\Windows\\qhandler.exe\t";
const KeyCase kKeyCases[] = {
    {"OpenListShowsOkAndCancel", "\\Sons\\", "ACTION\nSNAP\n", "Annuler", "Terminé", {}},
    {"OkOfAnOpenListPicks", "\\Sons\\", "ACTION\nDOWN\nSOFT1\nSNAP\n", "◀ Strum", "", {}},
    {"CancelOfAnOpenListKeeps", "\\Sons\\", "ACTION\nDOWN\nSOFT2\nSNAP\n", "◀ Standard", "", {}},
    {"BackClosesAnOpenList", "\\Sons\\", "ACTION\nDOWN\nBACK\nSNAP\n", "◀ Standard", "OK", {}},
    {"LeftDoesNotMoveAnOpenList", "\\Sons\\", "ACTION\nLEFT\nSOFT1\nSNAP\n", "◀ Standard", "", {}},
    {"OkDismissesTheAlert", std::nullopt, "SOFT1\nSNAP\n", "Chercher", "Alerte!", {}},
    {"BackDismissesTheAlert", std::nullopt, "BACK\nSNAP\n", "Chercher", "Alerte!", {}},
    {"MenuUpWraps", "\\Sons\\", "SOFT2\nUP\nSNAP\n", ">4 Annuler", "", {}},
    {"MenuIgnoresRight", "\\Sons\\", "SOFT2\nRIGHT\nSNAP\n", ">1 Jouer", "", {}},
    {"MenuStaysOpenOnTheLeftSoftKey", "\\Sons\\", "SOFT2\nSOFT1\nSNAP\n", "2 Paramètres", "", {}},
    {"BackClosesTheMenu", "\\Sons\\", "SOFT2\nBACK\nSNAP\n", "Menu", "2 Paramètres", {}},
    {"BackLeavesAbout", "\\Sons\\", "SOFT2\n3\nBACK\nSNAP\n", "SMS :", "Version", {}},
    {"LetterSearchesTheSpinner", "\\Sons\\", "TYPE b\nSNAP\n", "◀ Bip", "", {}},
    {"DigitSearchesTheSpinner", "\\Sons\\", "SOFT2\n2\nDOWN\n1\nSNAP\n", "◀ 1 seconde", "", {}},
    {"StarAndPoundType", "\\Sons\\", "SOFT2\n2\n*\n#\nSOFT1\n", "", "", "\\Sons\\*#"},
    {"BackDeletesAWholeCharacter", "\\Sons\\", "SOFT2\n2\nTYPE 🎵\nBACK\nSOFT1\n", "", "",
     "\\Sons\\"},
    {"ArrowsStepOverAWholeCharacter", "\\Sons\\", "SOFT2\n2\nTYPE a😀b\nLEFT\nLEFT\nTYPE X\nSOFT1\n",
     "", "", "\\Sons\\aX😀b"},
    {"AFolderLosesItsFinalDot", "\\Sons.\\", "TYPE c\nSNAP\n", "◀ Carillon", "", {}},
    {"TwoBackslashesNameNoFolder", "\\\\Sons\\", "TYPE c\nSNAP\n", "◀ Callwait", "Carillon", {}},
    {"PercentOfALaunchIsEscaped",
     "\\Sons\\",
     "1\nSOFT2\n1\n",
     kLaunch + "\\Sons\\100%25 jazz.wav\n",
     "",
     {}},
};

class KeysOn : public Program, public testing::WithParamInterface<KeyCase> {};

TEST_P(KeysOn, EveryScreen) {
    const KeyCase& c = GetParam();
    fs::create_directories(HostPath("\\Sons\\"));
    for (const char* tone : {"100% jazz.wav", "Carillon.wav"})
        fs::copy_file(HostPath("\\Windows\\Standard.wav"), HostPath("\\Sons\\") / tone);
    if (c.folder)
        Configured(*c.folder);
    ProgramResult run = RunProgram(TAVONNE_PROGRAM, {}, c.keys);
    EXPECT_NE(run.out.find(c.shows), std::string::npos) << run.out;
    if (!c.hides.empty())
        EXPECT_EQ(run.out.find(c.hides), std::string::npos) << run.out;
    if (c.folderAfter)
        EXPECT_EQ(Get(kApp, "Dossier"), c.folderAfter);
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, KeysOn, testing::ValuesIn(kKeyCases),
                         [](const testing::TestParamInfo<KeyCase>& info) {
                             return std::string(info.param.name);
                         });

// A second start while another screen runs: the main screen comes to the front where it is
// shown; before it is (the first start), the screen in front stays there. Keys go where the
// user sees them, and the screens left open end as usual.
struct SecondStart {
    const char* name;
    bool firstStart;
    std::vector<std::string> reach;  // the keys that open the screen
    std::string shows;
    std::string inFront;            // what shows after the second start
    std::vector<std::string> then;  // keys that end the program from there
    std::string folder;             // what Dossier holds at the end
};

void PrintTo(const SecondStart& start, std::ostream* out) {
    *out << start.name;
}

const std::string kMainScreen = "Sonnerie principale :";
const SecondStart kSecondStarts[] = {
    {"Alert",
     true,
     {},
     "Alerte!",
     "Alerte!",
     {"ACTION", "TYPE \\Sons\\", "SOFT1", "SOFT2", "4"},
     "\\Sons\\"},
    {"FirstStartSettings",
     true,
     {"ACTION"},
     "Chercher",
     "Chercher",
     {"TYPE \\Sons\\", "SOFT1", "SOFT2", "4"},
     "\\Sons\\"},
    {"Settings",
     false,
     {"SOFT2", "2"},
     "Chercher",
     kMainScreen,
     {"SOFT2", "4", "TYPE Sons", "SOFT1"},
     "Sons"},
    {"About", false, {"SOFT2", "3"}, "Version 1.0", kMainScreen, {"SOFT2", "4", "SOFT1"}, ""},
    {"Menu", false, {"SOFT2"}, "2 Paramètres", "2 Paramètres", {"4"}, ""},
    {"OpenList", false, {"ACTION"}, "Annuler", "Annuler", {"BACK", "SOFT2", "4"}, ""},
};

class SecondStartOver : public Program, public testing::WithParamInterface<SecondStart> {};

TEST_P(SecondStartOver, LeavesTheKeysWhereTheUserSeesThem) {
    const SecondStart& c = GetParam();
    if (!c.firstStart)
        Configured();
    ProgramSession first(TAVONNE_PROGRAM);
    for (const std::string& key : c.reach)
        first.Send(key);
    EXPECT_NE(first.Snap().find(c.shows), std::string::npos);

    ProgramResult second = RunProgram(TAVONNE_PROGRAM, {}, "SNAP\n");
    EXPECT_EQ(second.exitCode, 1) << second.err;
    ExpectBroughtForward(first);
    const std::string front = first.Snap();
    EXPECT_NE(front.find(c.inFront), std::string::npos) << front;

    for (const std::string& key : c.then)
        first.Send(key);
    EXPECT_EQ(first.Finish(), 1) << first.Errors();
    EXPECT_EQ(first.Errors(), "");
    EXPECT_EQ(Get(kApp, "Dossier"), c.folder);
}

INSTANTIATE_TEST_SUITE_P(EachScreen, SecondStartOver, testing::ValuesIn(kSecondStarts),
                         [](const testing::TestParamInfo<SecondStart>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Program, ManyStartsAtOnceLeaveExactlyOneCopyRunning) {
    Configured();
    std::vector<std::unique_ptr<ProgramSession>> copies;
    for (int i = 0; i < 6; ++i)
        copies.push_back(std::make_unique<ProgramSession>(TAVONNE_PROGRAM));
    ProgramSession* running = nullptr;
    int answered = 0;
    for (auto& copy : copies) {
        copy->Send("SNAP");
        if (copy->ReadThrough("----")) {  // a copy that gave way ends at once
            running = copy.get();
            ++answered;
        }
    }
    ASSERT_EQ(answered, 1);
    for (auto& copy : copies) {
        if (copy.get() != running) {
            EXPECT_EQ(copy->Finish(), 1);
        }
    }
    // Whichever copy won the race, the running one answers the next start.
    running->Snap();
    EXPECT_EQ(RunProgram(TAVONNE_PROGRAM, {}, "SNAP\n").exitCode, 1);
    ExpectBroughtForward(*running);
    running->Send("SOFT2");
    running->Send("4");
    EXPECT_EQ(running->Finish(), 1);
}

// The stand-in's own statuses are apart from the program's 0 and 1, and each says why.
TEST_F(Program, AnUnusableDeviceFolderIsReportedWithItsOwnStatus) {
    SKIP_ON_WINDOWS("these statuses are the Linux stand-in's own");
    fs::remove_all(device::Folder() / "run");
    std::ofstream(device::Folder() / "run") << "not a folder";
    ProgramResult run = RunProgram(TAVONNE_PROGRAM, {}, "SNAP\n");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("cannot be used"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

// A registry call waits its turn: a start while another program holds the registry's write lock
// for longer than a moment waits for it, is no first start, and saves once it may.
TEST_F(Program, AStartWaitsForARegistryThatAnotherProgramHolds) {
    SKIP_ON_WINDOWS("Wine's registry is not the stand-in's file, whose lock this test holds");
    Configured("\\Tones\\");
    Set(kRing, "Sound", "\\Windows\\Reggae.mid");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(device::RegistryFile().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    ProgramSession tavonne(TAVONNE_PROGRAM);
    tavonne.Send("RIGHT");
    tavonne.Snap();
    const long sleeps = SleepsOf(tavonne.Pid());
    tavonne.Send("SOFT1");
    // Saving waits for the lock, trying again after a sleep each time; the lock is held until it
    // has tried twenty times (about a second).
    EXPECT_TRUE(WaitUntil([&] { return SleepsOf(tavonne.Pid()) >= sleeps + 20; },
                          std::chrono::seconds(20)));
    EXPECT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(tavonne.Finish(), 1) << tavonne.Errors();
    EXPECT_EQ(Get(kApp, "Dossier"), "\\Tones\\");
    EXPECT_EQ(Get(kRing, "Sound"), "\\Windows\\Robatica.mid");
}

// "Terminé" when the registry cannot be written: the error box, and the main screen stays, so
// that the user can try again or cancel.
TEST_F(Program, DoneThatCannotSaveSaysSoAndKeepsTheMainScreen) {
    Configured();
    ProgramSession tavonne(TAVONNE_PROGRAM);
    EXPECT_NE(tavonne.Snap().find("Sonnerie principale :"), std::string::npos);
#ifdef TAVONNE_ON_WINDOWS
    // Wine's registry cannot be damaged from outside: the driver makes its writes fail.
    tavonne.Send("BREAK REGISTRY");
#else
    std::ofstream(device::RegistryFile(), std::ios::binary | std::ios::trunc)
        << std::string(8192, 'x');
#endif
    tavonne.Send("SOFT1");
    const std::string error = tavonne.Snap();
    EXPECT_NE(error.find("Erreur"), std::string::npos) << error;
    EXPECT_NE(error.find("regitre"), std::string::npos) << error;
    tavonne.Send("ACTION");
    const std::string main = tavonne.Snap();
    EXPECT_NE(main.find("Sonnerie principale :"), std::string::npos) << main;
    EXPECT_EQ(main.find("regitre"), std::string::npos) << main;
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
}

#ifdef TAVONNE_ON_WINDOWS
// A rectangle of the driver's layout report: left, top, right, bottom.
struct Place {
    long left = 0, top = 0, right = 0, bottom = 0;
    bool Inside(const Place& outer) const {
        return left >= outer.left && top >= outer.top && right <= outer.right &&
               bottom <= outer.bottom;
    }
};

// Checks one layout report: every window and control of the program lies inside the phone's
// screen, each spinner shows one row, an open list shows its selected row, and labels fit.
void ExpectLayoutFits(const std::string& where, const std::string& report) {
    const size_t at = report.find("screen ");
    ASSERT_NE(at, std::string::npos) << where << ": no phone screen\n" << report;
    Place screen;
    std::istringstream(report.substr(at + 7)) >> screen.left >> screen.top >> screen.right >>
        screen.bottom;
    std::istringstream lines(report);
    std::string windowClass;
    int windows = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string kind, type;
        Place place;
        words >> kind;
        if (kind != "window" && kind != "control")
            continue;
        words >> type >> place.left >> place.top >> place.right >> place.bottom;
        EXPECT_TRUE(place.Inside(screen)) << where << ": outside the screen: " << line;
        if (kind == "window") {
            windowClass = type;
            ++windows;
            continue;
        }
        std::map<std::string, long> details;
        for (std::string name; words >> name;)
            words >> details[name];
        if (type == "ListBox" && windowClass == "TavonnePopup") {
            EXPECT_GE(details["selected"], details["top"]) << where << ": " << line;
            EXPECT_LT(details["selected"], details["top"] + details["shown"])
                << where << ": " << line;
        } else if (type == "ListBox") {
            EXPECT_EQ(details["shown"], 1) << where << ": spinner " << line;
            EXPECT_LT(place.bottom - place.top, 2 * details["rows"]) << where << ": " << line;
        } else if (details.count("fits")) {
            EXPECT_EQ(details["fits"], 1) << where << ": label " << line;
        }
    }
    EXPECT_GT(windows, 0) << where << "\n" << report;
}

TEST_F(Program, EveryScreenFitsInsideThePhone) {
    ProgramSession tavonne(TAVONNE_PROGRAM);
    const std::vector<std::pair<std::string, std::vector<std::string>>> steps = {
        {"first-start alert", {}},
        {"settings", {"ACTION"}},
        {"main", {"TYPE \\Sons\\", "SOFT1"}},
        {"menu", {"SOFT2"}},
        {"About", {"3"}},
        {"open list", {"SOFT1", "ACTION"}},
        {"open list at its top", std::vector<std::string>(35, "UP")},
        {"open list at its bottom", std::vector<std::string>(35, "DOWN")},
        {"error", {"BACK", "BREAK REGISTRY", "SOFT1"}},
    };
    for (const auto& [where, keys] : steps) {
        for (const std::string& key : keys)
            tavonne.Send(key);
        tavonne.Send("LAYOUT");
        const std::optional<std::string> report = tavonne.ReadThrough("----");
        ASSERT_TRUE(report) << where;
        ExpectLayoutFits(where, *report);
    }
    tavonne.Send("ACTION");
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
}
#endif

TEST_F(Program, InputEndingOnAScreenSavesNothingAndExitsTwo) {
    Configured();
    Set(kRing, "Sound", "\\Windows\\Reggae.mid");
    ProgramResult run = RunProgram(TAVONNE_PROGRAM, {}, "RIGHT\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("input ended"), std::string::npos) << run.err;
    EXPECT_EQ(Get(kRing, "Sound"), "\\Windows\\Reggae.mid");
}

}  // namespace
