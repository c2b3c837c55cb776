// The whole program, run as the real tavonne binary in script mode against a temporary device,
// with the phone's registry read back through tavonne-device.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
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
    // A new phone, also where the registry outlives the device folder (the Windows user's own).
    Program() { EXPECT_EQ(RunDeviceTool({"init", "--reset"}).exitCode, 0); }

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

// The line the player leaves for the person at the phone, as it shows (without the tabs that
// mark the tone's name).
std::string StatusLine() {
    std::string line = ReadFile(device::StatusFile());
    line.erase(line.find('\n') == line.npos ? line.size() : line.find('\n'));
    std::erase(line, '\t');
    return line;
}

// A host file as the device tool takes it: under Wine, on the drive Z:, which holds the host's
// root.
std::string ToolPath(const fs::path& file) {
#ifdef TAVONNE_ON_WINDOWS
    std::string path = "Z:" + file.string();
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
#else
    return file.string();
#endif
}

// A sound card that keeps what it is given in a file, where nobody hears it: SDL's disk driver on
// Linux (heard.raw), under Wine ALSA's file plugin on its null device (heard.wav).
void UseSilentSoundCard(const fs::path& folder) {
#ifdef TAVONNE_ON_WINDOWS
    const fs::path config = folder / "alsa-card.conf";
    std::ofstream(config)
        << "pcm.default { type file  slave.pcm { type null }  format \"wav\"  file \""
        << (folder / "heard.wav").string() << "\" }\n";
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
#else
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (folder / "heard.raw").c_str(), 1);
#endif
}

// A WAV tone of a quiet hum, 8 kHz 8-bit mono, long enough to be still playing when a test looks.
std::string HumWave(int seconds) {
    const uint32_t samples = 8000 * seconds;
    std::string wave;
    const auto add = [&wave](uint32_t n, int bytes) {
        for (int i = 0; i < bytes; ++i, n >>= 8)
            wave += static_cast<char>(n & 0xFF);
    };
    wave += "RIFF";
    add(36 + samples, 4);
    wave += "WAVEfmt ";
    for (const auto& [n, bytes] :
         {std::pair{16u, 4}, {1u, 2}, {1u, 2}, {8000u, 4}, {8000u, 4}, {1u, 2}, {8u, 2}})
        add(n, bytes);
    wave += "data";
    add(samples, 4);
    for (uint32_t i = 0; i < samples; ++i)
        wave += static_cast<char>(i % 16 < 8 ? 148 : 108);
    return wave;
}

// The rows of a screen: its lines without the edges of a box, the mark of the highlighted row and
// the blanks around.
std::vector<std::string> Rows(const std::string& screen) {
    std::vector<std::string> rows;
    std::istringstream lines(screen);
    for (std::string line; std::getline(lines, line);) {
        for (const std::string mark : {"\u2502", ">"}) {
            for (size_t at; (at = line.find(mark)) != line.npos;)
                line.erase(at, mark.size());
        }
        const size_t first = line.find_first_not_of(' ');
        rows.push_back(
            first == line.npos ? "" : line.substr(first, line.find_last_not_of(' ') + 1 - first));
    }
    return rows;
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
    SKIP_ON_WINDOWS(
        "TAVONNE_AUDIO_OUT is the Linux player's: the Windows player hands MIDI to the system's "
        "sequencer, which writes no file");
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

// A silent sound card: each tone plays as long as it lasts (under Wine, faster), and five "Jouer",
// each on another tone, leave one player playing.
TEST_F(Program, FiveQuickPlaysLeaveOnePlayerPlaying) {
    Configured("\\Tones\\");
    const fs::path tones = HostPath("\\Tones\\");
    fs::create_directories(tones);
    const std::string names = "abcde";
    for (char name : names)
        std::ofstream(tones / (name + std::string(".wav")), std::ios::binary) << HumWave(20);
    Set(kRing, "Sound", "\\Tones\\a.wav");
    UseSilentSoundCard(device.Folder());
    ProgramSession tavonne(TAVONNE_PROGRAM);
    for (size_t i = 0; i < names.size(); ++i) {
        tavonne.Send("SOFT2");
        tavonne.Send("1");
        tavonne.Send("RIGHT");
    }
    for (char name : names)
        EXPECT_TRUE(tavonne.ReadThrough("event: launch\t\\Windows\\qhandler.exe\t\\Tones\\" +
                                        std::string(1, name) + ".wav"));
    tavonne.Snap();
#ifdef TAVONNE_ON_WINDOWS
    // Each player says in the log what it did, the ones that gave way too; the last launched plays.
    EXPECT_TRUE(WaitUntil([] { return std::ranges::count(LogText(), '\n') == 5; },
                          std::chrono::seconds(20)))
        << LogText();
    // The player writes its log line, then the status line.
    EXPECT_TRUE(
        WaitUntil([] { return StatusLine() == "\u266A e.wav, 20,0 s"; }, std::chrono::seconds(5)))
        << StatusLine() << "\n"
        << LogText();
#endif
    // Once the program has handled the keys, all five players run. A player ends only when a
    // later one stops it (or its tone ends): one left is the one left playing.
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

// The Windows player hands the system's wave output the tone itself, sample for sample.
TEST_F(Program, AWaveToneReachesTheSoundCardAsItIs) {
#ifndef TAVONNE_ON_WINDOWS
    GTEST_SKIP() << "the Linux player's sound is checked in the file TAVONNE_AUDIO_OUT names";
#endif
    Configured();
    UseSilentSoundCard(device.Folder());
    ProgramSession tavonne(TAVONNE_PROGRAM);
    tavonne.Send("SOFT2");
    tavonne.Send("1");
    EXPECT_TRUE(
        tavonne.ReadThrough("event: launch\t\\Windows\\qhandler.exe\t\\Windows\\Standard.wav"));
    EXPECT_TRUE(WaitUntil([] { return StatusLine() == "\u266A Standard.wav, 1,8 s"; },
                          std::chrono::seconds(20)))
        << StatusLine();
    ASSERT_TRUE(PlayersEnd(20));
    const std::optional<Sound> heard = ReadSound(device.Folder() / "heard.wav");
    const std::optional<Sound> tone = ReadSound(HostPath("\\Windows\\Standard.wav"));
    ASSERT_TRUE(heard && tone);
    EXPECT_EQ(heard->rate, tone->rate);
    EXPECT_EQ(heard->channels, tone->channels);
    EXPECT_TRUE(heard->samples == tone->samples);
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
}

// Without an audio output the player says so, in the status line and in the log, and ends.
TEST_F(Program, PlayWithoutAnAudioOutputSaysSoAndEnds) {
    Configured();
    ProgramSession tavonne(TAVONNE_PROGRAM);
    tavonne.Send("SOFT2");
    tavonne.Send("1");
    EXPECT_TRUE(
        tavonne.ReadThrough("event: launch\t\\Windows\\qhandler.exe\t\\Windows\\Standard.wav"));
    EXPECT_TRUE(WaitUntil([] { return StatusLine() == "Standard.wav : pas de sortie audio"; },
                          std::chrono::seconds(20)))
        << StatusLine();
    EXPECT_NE(LogText().find("qhandler: play \"\\Windows\\Standard.wav\": WAV PCM 11025 Hz 16-bit "
                             "mono, 1.8 s; no audio output ("),
              std::string::npos)
        << LogText();
    EXPECT_TRUE(PlayersEnd(10));
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
}

// The device tool plays through the same output as the player: without one it says so; with one,
// sms plays its tone once and ring plays the call tone again after the silence its Script asks.
TEST_F(Program, RingAndSmsPlayOnTheAudioOutput) {
    Set(kRing, "Script", "apw1r");
    Set(kSms, "Sound", "\\Windows\\Standard.wav");
    const ProgramResult none = RunDeviceTool({"sms"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(
        none.err.find("ERROR: the SMS tone \\Windows\\Standard.wav cannot be played: no audio "
                      "output ("),
        std::string::npos)
        << none.err;

    UseSilentSoundCard(device.Folder());
    const std::string tone = " \\Windows\\Standard.wav (WAV PCM 11025 Hz 16-bit mono, 1.8 s), ";
    const ProgramResult sms = RunDeviceTool({"sms"});
    EXPECT_EQ(sms.exitCode, 0) << sms.err;
    EXPECT_EQ(sms.out, "Playing the SMS tone" + tone + "once.\nPlayed 1 time.\n");
    const ProgramResult ring = RunDeviceTool({"ring", "--seconds", "3"});
    EXPECT_EQ(ring.exitCode, 0) << ring.err;
    EXPECT_EQ(ring.out.rfind("Playing the call tone" + tone +
                                 "again after 1 s of silence (Script \"apw1r\"), for 3 s.\nPlayed ",
                             0),
              0u)
        << ring.out;
    EXPECT_NE(ring.out.find(" times.\n"), std::string::npos) << ring.out;
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
    if (!c.hides.empty()) {
        EXPECT_EQ(run.out.find(c.hides), std::string::npos) << run.out;
    }
    if (c.folderAfter) {
        EXPECT_EQ(Get(kApp, "Dossier"), c.folderAfter);
    }
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

// The stand-in's own statuses are apart from the program's 0 and 1, and each says why: a device
// folder whose run/ folder or whose lock file for the program's mutex cannot serve is reported at
// once, and what a link there leads to is left alone.
TEST_F(Program, AnUnusableDeviceFolderIsReportedWithItsOwnStatus) {
    SKIP_ON_WINDOWS("these statuses are the Linux stand-in's own");
    const fs::path run = device::Folder() / "run";
    const fs::path lock = run / "mutex" / "QUILM_TAVONNE.lock";
    const fs::path victim = device::Folder().parent_path() / "victim";
    std::ofstream(victim) << "precious";
    int held = -1;
    const struct {
        std::function<void()> make;
        std::string says;
    } cases[] = {
        {[&] {
             fs::remove_all(run);
             std::ofstream(run) << "not a folder";
         },
         run.string() + ": "},
        {[&] { fs::create_symlink(victim, lock); }, "run/mutex/QUILM_TAVONNE.lock is a link"},
        {[&] { fs::create_directory(lock); }, "run/mutex/QUILM_TAVONNE.lock is a folder"},
        {[&] {
             // Another program's lock on the file, held for as long as the run lasts.
             held = open(lock.c_str(), O_RDWR | O_CREAT, 0600);
             struct flock whole = {};
             whole.l_type = F_WRLCK;
             ASSERT_EQ(fcntl(held, F_SETLK, &whole), 0);
         },
         "run/mutex/QUILM_TAVONNE.lock is locked by another program (process " +
             std::to_string(getpid()) + ")"},
    };
    for (const auto& c : cases) {
        fs::remove_all(run);
        fs::create_directories(lock.parent_path());
        c.make();
        ProgramResult result = RunProgram(TAVONNE_PROGRAM, {}, "SNAP\n");
        EXPECT_EQ(result.exitCode, 3) << c.says;
        EXPECT_NE(result.err.find("cannot be used: " + c.says), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    close(held);
    EXPECT_EQ(ReadFile(victim), "precious");
}

// A second start while the running copy cannot answer (stopped, as with Ctrl-Z) says so, with a
// status of its own, instead of ending in silence.
TEST_F(Program, ASecondStartSaysSoWhenTheRunningCopyDoesNotAnswer) {
    SKIP_ON_WINDOWS("the status and its line are the Linux stand-in's own");
    Configured();
    ProgramSession first(TAVONNE_PROGRAM);
    EXPECT_NE(first.Snap().find("Sonnerie principale :"), std::string::npos);
    kill(first.Pid(), SIGSTOP);
    const ProgramResult second = RunProgram(TAVONNE_PROGRAM, {}, "SNAP\n");
    kill(first.Pid(), SIGCONT);
    EXPECT_EQ(second.exitCode, 5);
    EXPECT_NE(second.err.find("already runs on this phone but did not answer"), std::string::npos)
        << second.err;
    EXPECT_EQ(second.out, "");
    first.Send("SOFT2");
    first.Send("4");
    EXPECT_EQ(first.Finish(), 1);
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
    // One box for each tone, since neither could be written.
    for (int box = 0; box < 2; ++box) {
        const std::string error = tavonne.Snap();
        EXPECT_NE(error.find("Erreur"), std::string::npos) << error;
        EXPECT_NE(error.find("regitre"), std::string::npos) << error;
        tavonne.Send("ACTION");
    }
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
    // One box for each list that could not be saved.
    tavonne.Send("ACTION");
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

// The lists hold the files whose whole name matches: a name that looks like a tone only in its
// 8.3 short form (x.wave as X~1.WAV on desktop Windows) is none, a folder that matches is one.
TEST_F(Program, TheListsHoldTheNamesThatMatchWhole) {
    const fs::path tones = HostPath("\\Tones\\");
    Configured("\\Tones\\");
    fs::create_directories(tones / "dir.wav");
    for (const char* name : {"a.wav", "x.wave", "long name here.wave", "z.midi", "Y.MiD"})
        std::ofstream(tones / name) << "x";
    Set(kRing, "Sound", "\\Tones\\a.wav");  // the whole list opens at its top
    const ProgramResult run = RunProgram(TAVONNE_PROGRAM, {}, "ACTION\nSNAP\n");
    const std::vector<std::string> rows = Rows(run.out);
    const std::vector<std::string> listed = {"a", "dir", "Y", "Alarm1"};
    EXPECT_NE(std::search(rows.begin(), rows.end(), listed.begin(), listed.end()), rows.end())
        << run.out;
    for (const char* shortOnly : {"x.", "long name here.", "z."})
        EXPECT_EQ(std::find(rows.begin(), rows.end(), shortOnly), rows.end()) << run.out;
}

// init makes what is missing and keeps what it finds, also for a device folder it has not seen
// (the registry of the Windows build is the user's own, where such a folder is a new phone that
// gets the sound values it lacks; the Linux one is the folder's, and completed only when made);
// only --reset erases, and says what.
TEST_F(Program, InitKeepsTheSettingsItFindsAndOnlyResetErasesThem) {
    Set(kApp, "Dossier", "\\Mes Sons\\");
    Set(kRing, "Sound", "\\Mes Sons\\Carillon.wav");
    ASSERT_EQ(RunDeviceTool({"reg", "delete", kSms, "/v", "Sound", "/f"}).exitCode, 0);
    fs::remove_all(device.Folder() / "fs");
    const ProgramResult init = RunDeviceTool({"init"});
    EXPECT_EQ(init.exitCode, 0) << init.err;
    EXPECT_EQ(init.out, "");
    EXPECT_EQ(Get(kApp, "Dossier"), "\\Mes Sons\\");
    EXPECT_EQ(Get(kRing, "Sound"), "\\Mes Sons\\Carillon.wav");
#ifdef TAVONNE_ON_WINDOWS
    EXPECT_EQ(Get(kSms, "Sound"), "\\Windows\\Notify.mid");
#else
    EXPECT_EQ(Get(kSms, "Sound"), std::nullopt);
#endif
    EXPECT_TRUE(fs::is_regular_file(HostPath("\\Windows\\Standard.wav")));

    const ProgramResult reset = RunDeviceTool({"init", "--reset"});
    EXPECT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_EQ(reset.out,
              "Erased HKEY_CURRENT_USER\\Software\\Tavonne.\n"
              "Erased HKEY_CURRENT_USER\\ControlPanel\\Sounds\\RingTone0.\n"
              "Erased HKEY_CURRENT_USER\\ControlPanel\\Sounds\\SMS.\n");
    EXPECT_EQ(Get(kApp, "Dossier"), std::nullopt);
    EXPECT_EQ(Get(kRing, "Sound"), "\\Windows\\Standard.wav");
    EXPECT_EQ(Get(kSms, "Sound"), "\\Windows\\Notify.mid");
}

// Host names in any script, in the files copied and in the device folder itself.
TEST_F(Program, CopyTakesFilesAndADeviceFolderOfAnyName) {
    const fs::path top = device.Folder().parent_path();
    const fs::path phone = top / "Téléphone 電話";
    const std::string tone = ReadFile(HostPath("\\Windows\\Standard.wav"));
    const std::vector<std::string> names = {"Sirène.wav", "Κουδούνι.wav", "着信音.wav"};
    std::vector<std::string> copy = {"copy"};
    for (const std::string& name : names) {
        std::ofstream(top / name, std::ios::binary) << tone;
        copy.push_back(ToolPath(top / name));
    }
    copy.push_back("\\Storage\\Sons\\");
    const EnvironmentChanges there = {{"TAVONNE_DEVICE", phone.string()}};
    const ProgramResult copied = RunDeviceTool(copy, "", there);
    EXPECT_EQ(copied.exitCode, 0) << copied.err;
    for (const std::string& name : names)
        EXPECT_EQ(ReadFile(phone / "fs" / "Storage" / "Sons" / name), tone) << name;
    EXPECT_EQ(RunDeviceTool({"path", "\\Storage\\Sons\\着信音.wav"}, "", there).out,
              (phone / "fs" / "Storage" / "Sons" / "着信音.wav").string() + "\n");
}

}  // namespace
