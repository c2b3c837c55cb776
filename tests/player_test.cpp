// The player run as the platform runs it (one argument, exactly as given): its exit code, its
// line in the device log and in the status file, the sound it writes to TAVONNE_AUDIO_OUT or
// plays on an audio output, one tone at a time; and installing it into the device folder.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_folder.h"
#include "device/tone_file.h"
#include "device/tones.h"
#include "base/text.h"
#include "support/audio.h"
#include "support/files.h"
#include "support/program.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;

const fs::path kPlayer = TAVONNE_PLAYER;

class Player : public DeviceTest {
  protected:
    void SetUp() override { ASSERT_TRUE(device::InstallPhoneTones(device::FileSystemRoot())); }

    // Runs `program` with `arguments`, each one argument exactly as given, as the platform does,
    // writing what it plays to Out() unless `changes` say otherwise; returns its exit code.
    static int Run(const fs::path& program, const std::vector<std::string>& arguments,
                   EnvironmentChanges changes = {}) {
        changes.try_emplace("TAVONNE_AUDIO_OUT", Out().string());
        return RunProgram(program, arguments, "", changes).exitCode;
    }

    static int Play(const std::string& parameter, const EnvironmentChanges& changes = {}) {
        return Run(kPlayer, {parameter}, changes);
    }

    static fs::path Out() { return device::Folder() / "played.wav"; }

    static std::string Status() {
        std::string line;
        std::ifstream in(device::StatusFile());
        std::getline(in, line);
        return line;
    }

    static std::vector<std::string> LogLines() {
        std::ifstream in(device::LogFile());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    static std::string OnlyLogLine() {
        const auto lines = LogLines();
        EXPECT_EQ(lines.size(), 1u);
        return lines.empty() ? "" : lines.back();
    }

    static fs::path Host(const std::string& relative) {
        return device::FileSystemRoot() / relative;
    }

    static std::string Read(const fs::path& file) { return ReadFile(file); }
};

bool StartsWith(const std::string& s, const std::string& start) {
    return s.compare(0, start.size(), start) == 0;
}

TEST_F(Player, PlaysAMidiToneWithBlanksInItsPath) {
    EXPECT_EQ(Play("\\IPSM\\Application Data\\Sounds\\Petite valse.mid"), 0);
    const std::string line = OnlyLogLine();
    EXPECT_TRUE(StartsWith(
        line,
        "qhandler: play \"\\IPSM\\Application Data\\Sounds\\Petite valse.mid\": MIDI format "))
        << line;
    EXPECT_NE(line.find(" s"), std::string::npos) << line;
}

TEST_F(Player, PlaysAWaveToneWithBlanksInItsPath) {
    EXPECT_EQ(Play("\\IPSM\\Application Data\\Sounds\\Carillon du matin.wav"), 0);
    const std::string line = OnlyLogLine();
    EXPECT_TRUE(StartsWith(
        line,
        "qhandler: play \"\\IPSM\\Application Data\\Sounds\\Carillon du matin.wav\": WAV PCM "))
        << line;
}

// Each built-in tone file (the 27 tones share 26), one test each: heard whole, as loud as every
// other (within 1.5 dB of -23 dB of full scale while it sounds, so within 3 dB of one another);
// a MIDI tone's last notes may ring a second on.
class BuiltInTone : public Player, public ::testing::WithParamInterface<device::PhoneTone> {};

TEST_P(BuiltInTone, RendersAudiblyForItsWholeLength) {
    const std::string path = text::ToUtf8(GetParam().devicePath);
    ASSERT_EQ(Play(path), 0);
    EXPECT_TRUE(StartsWith(OnlyLogLine(), "qhandler: play \"" + path + "\": "));
    EXPECT_TRUE(StartsWith(Status(), "\u266A \t" + path.substr(9) + "\t, ")) << Status();
    const device::ToneInfo info = device::InspectTone(GetParam().bytes);
    const std::optional<Sound> sound = ReadSound(Out());
    ASSERT_TRUE(sound);
    const bool midi = info.kind == device::ToneKind::Midi;
    EXPECT_EQ(sound->rate, midi ? 44100 : static_cast<int>(info.wave.sampleRate));
    EXPECT_GE(sound->Seconds(), info.seconds - 0.01);
    EXPECT_LE(sound->Seconds(), info.seconds + (midi ? 1.01 : 0.01));
    EXPECT_GT(sound->Rms(), 300);  // about -40 dB of full scale
    EXPECT_NEAR(sound->SoundingRmsDb(64), -23, 1.5);
}

std::vector<device::PhoneTone> BuiltInToneFiles() {
    std::vector<device::PhoneTone> files;
    for (const device::PhoneTone& tone : device::PhoneTones()) {
        if (text::ToUtf8(tone.devicePath).rfind("\\Windows\\", 0) == 0)
            files.push_back(tone);
    }
    return files;
}

INSTANTIATE_TEST_SUITE_P(Player, BuiltInTone, ::testing::ValuesIn(BuiltInToneFiles()),
                         [](const auto& tone) {
                             std::string name = text::ToUtf8(tone.param.devicePath.substr(9));
                             for (char& c : name) {
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             }
                             return name;
                         });

// What cannot be played is said once, in the log and to the person, and nothing is written.
TEST_F(Player, SaysWhyATonesCannotBePlayedAndWritesNothing) {
    const std::string wave = Read(Host("Windows/Standard.wav"));
    const std::string midi = Read(Host("Windows/Alarm1.mid"));
    const struct {
        std::string name, bytes;
        int exitCode;
        std::string logged, status;
    } cases[] = {
        {"Cut.wav", wave.substr(0, wave.size() - 100), 2, "not a tone file (truncated WAV",
         "pas un fichier de sonnerie"},
        {"Cut.mid", midi.substr(0, midi.size() - 5), 2, "not a tone file (truncated MIDI",
         "pas un fichier de sonnerie"},
        {"Words.wav", "RIFF but not a wave", 2, "not a tone file (", "pas un fichier de sonnerie"},
        {"Absent.mid", "", 1, "no such file", "fichier introuvable"},
        // A folder is listed like a file whose name ends so: it is no tone all the same.
        {"Dossier.wav", "", 2, "cannot read (a folder)", "pas un fichier de sonnerie"},
    };
    fs::create_directory(Host("Windows/Dossier.wav"));
    for (const auto& c : cases) {
        if (!c.bytes.empty())
            std::ofstream(Host("Windows/" + c.name), std::ios::binary) << c.bytes;
        EXPECT_EQ(Play("\\Windows\\" + c.name), c.exitCode) << c.name;
        EXPECT_NE(LogLines().back().find(": " + c.logged), std::string::npos) << LogLines().back();
        EXPECT_EQ(Status(), "\t" + c.name + "\t : " + c.status);
        EXPECT_FALSE(fs::exists(Out())) << c.name;
    }
    EXPECT_EQ(LogLines().size(), std::size(cases));
}

TEST_F(Player, WithoutAnAudioOutputSaysSoOnceAndFails) {
    EXPECT_EQ(Play("\\Windows\\Alarm1.mid", {{"TAVONNE_AUDIO_OUT", std::nullopt}}), 4);
    const std::string line = OnlyLogLine();
    EXPECT_TRUE(StartsWith(line,
                           "qhandler: play \"\\Windows\\Alarm1.mid\": MIDI format 0, 1 "
                           "track, 3.5 s; no audio output ("))
        << line;
    EXPECT_EQ(Status(), "\tAlarm1.mid\t : pas de sortie audio");
    EXPECT_TRUE(RunningPlayers().empty());
}

// SDL's disk driver stands for a sound card: it takes the sound at the pace it is heard.
TEST_F(Player, PlaysOnTheAudioOutputAfterAnsweringAndANewToneStopsTheOldOne) {
    ASSERT_TRUE(device::InstallPlayer(device::FileSystemRoot(), kPlayer));
    const fs::path installed = device::FileSystemRoot() / "Windows" / "qhandler.exe";
    const fs::path heard = device.Folder() / "heard.raw";
    const EnvironmentChanges card = {{"TAVONNE_AUDIO_OUT", std::nullopt},
                                     {"SDL_AUDIODRIVER", "disk"},
                                     {"SDL_DISKAUDIOFILE", heard.string()}};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Run(installed, {"\\Windows\\AlarmXtra2-Slow.mid"}, card), 0);
    EXPECT_EQ(Status(), "\u266A \tAlarmXtra2-Slow.mid\t, 5,8 s");
    // The earlier players go as soon as they are asked; the last plays on.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (RunningPlayers().size() > 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::vector<pid_t> players = RunningPlayers();
    EXPECT_EQ(players.size(), 1u);
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (fs::file_size(heard) < 44100 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::string raw = Read(heard);
    EXPECT_NE(raw.find_first_not_of('\0'), std::string::npos);
    for (pid_t player : players)
        kill(player, SIGTERM);
}

// The players of a device, the way "Jouer" starts them: each launch returns, and the tone of the
// last one launched is the one that plays on.
class LaunchedPlayer : public Player {
  protected:
    void SetUp() override {
        Player::SetUp();
        ASSERT_TRUE(device::InstallPlayer(device::FileSystemRoot(), kPlayer));
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (device.Folder() / "heard.raw").c_str(), 1);
    }
    void TearDown() override {
        for (pid_t player : RunningPlayers())
            kill(player, SIGTERM);
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
    }

    // Starts one launch per tone, in this order, without waiting; then their exit codes.
    static std::vector<int> Launch(const std::vector<std::string>& tones) {
        const fs::path installed = device::FileSystemRoot() / "Windows" / "qhandler.exe";
        std::vector<pid_t> launched;
        for (const std::string& tone : tones)
            launched.push_back(StartProgram(installed.string(), {tone}));
        std::vector<int> codes;
        for (pid_t pid : launched) {
            int status = 0;
            waitpid(pid, &status, 0);
            codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        }
        return codes;
    }

    // A WAV tone of `seconds`, audible throughout.
    static void WriteLongTone(const std::string& name, int seconds) {
        SF_INFO info{};
        info.samplerate = 8000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        std::vector<short> samples(static_cast<size_t>(info.samplerate * seconds));
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = (i / 20) % 2 ? 8000 : -8000;
        SNDFILE* out = sf_open(Host("Windows/" + name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(out, nullptr);
        sf_write_short(out, samples.data(), static_cast<sf_count_t>(samples.size()));
        sf_close(out);
    }

    static std::string LastPlayed() {
        std::string last;
        for (const std::string& line : LogLines()) {
            if (StartsWith(line, "qhandler: play "))
                last = line;
        }
        return last;
    }
};

TEST_F(LaunchedPlayer, TheLastOfABurstIsTheToneThatPlays) {
    std::vector<std::string> burst(12, "\\Windows\\AlarmXtra2-Slow.mid");
    burst.push_back("\\Windows\\Alarm4.mid");
    for (int code : Launch(burst))
        EXPECT_EQ(code, 0);
    WaitUntil([] { return RunningPlayers().size() <= 1; }, std::chrono::seconds(3));
    EXPECT_EQ(RunningPlayers().size(), 1u);
    // An earlier launch that reaches the device late must not take over.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(StartsWith(Status(), "\u266A \tAlarm4.mid\t, ")) << Status();
    EXPECT_TRUE(StartsWith(LastPlayed(), "qhandler: play \"\\Windows\\Alarm4.mid\": MIDI"))
        << LastPlayed();
}

// Whatever lies in the lock file, a new tone replaces the one playing at once; a lock that
// another program holds while no player runs is said at once, and no player is left waiting.
TEST_F(LaunchedPlayer, TheLockNeitherDelaysNorStrandsATone) {
    WriteLongTone("Long.wav", 30);
    EXPECT_EQ(Launch({"\\Windows\\Long.wav"}), std::vector<int>{0});
    std::ofstream(device::Folder() / "run" / "qhandler.lock", std::ios::trunc) << "not a pid\n";
    EXPECT_EQ(Launch({"\\Windows\\Notify.mid"}), std::vector<int>{0});
    EXPECT_TRUE(StartsWith(Status(), "\u266A \tNotify.mid\t, ")) << Status();
    for (pid_t player : RunningPlayers())
        kill(player, SIGTERM);
    ASSERT_TRUE(WaitUntil([] { return RunningPlayers().empty(); }, std::chrono::seconds(5)));

    // The stranger is this test, holding the lock through a file description of its own.
    const int stranger =
        open((device::Folder() / "run" / "qhandler.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(stranger, LOCK_EX), 0);
    EXPECT_EQ(Launch({"\\Windows\\Alarm1.mid"}), std::vector<int>{4});
    EXPECT_TRUE(RunningPlayers().empty());
    close(stranger);
    EXPECT_EQ(Status(), "\tAlarm1.mid\t : pas de sortie audio");
    EXPECT_NE(LogLines().back().find("; the player's lock (run/qhandler.lock) is held by another "
                                     "program"),
              std::string::npos)
        << LogLines().back();

    // A lock that leads out of the device is not followed.
    const fs::path outside = device.Folder().parent_path() / "outside.txt";
    std::ofstream(outside) << "untouched";
    fs::remove(device::Folder() / "run" / "qhandler.lock");
    fs::create_symlink(outside, device::Folder() / "run" / "qhandler.lock");
    EXPECT_EQ(Launch({"\\Windows\\Alarm1.mid"}), std::vector<int>{4});
    EXPECT_EQ(Read(outside), "untouched");
    fs::remove(outside);
}

TEST_F(Player, FindsATonePathWrittenInOtherLetterCase) {
    EXPECT_EQ(Play("\\WINDOWS\\alarm1.MID"), 0);
    EXPECT_NE(OnlyLogLine().find("MIDI format 0"), std::string::npos);
}

TEST_F(Player, FailsForAMissingFile) {
    EXPECT_EQ(Play("\\Windows\\Absent.mid"), 1);
    EXPECT_TRUE(
        StartsWith(OnlyLogLine(), "qhandler: play \"\\Windows\\Absent.mid\": no such file"));
}

TEST_F(Player, TakesQuotesAsPartOfThePath) {
    EXPECT_NE(Play("\"\\Windows\\Alarm1.mid\""), 0);
    EXPECT_TRUE(
        StartsWith(OnlyLogLine(), "qhandler: play \"\"\\Windows\\Alarm1.mid\"\": no such file"));
}

TEST_F(Player, FailsForAFileThatIsNoTone) {
    std::ofstream(Host("Windows/Broken.mid")) << "these words are no tune";
    EXPECT_EQ(Play("\\Windows\\Broken.mid"), 2);
    EXPECT_EQ(OnlyLogLine(),
              "qhandler: play \"\\Windows\\Broken.mid\": not a tone file (neither WAV nor MIDI)");
}

TEST_F(Player, FailsForACutShortTone) {
    const std::string whole = Read(Host("Windows/Standard.wav"));
    std::ofstream(Host("Windows/Half.wav"), std::ios::binary) << whole.substr(0, whole.size() / 2);
    EXPECT_EQ(Play("\\Windows\\Half.wav"), 2);
    EXPECT_NE(OnlyLogLine().find("not a tone file (truncated"), std::string::npos);
}

TEST_F(Player, FailsForAFolder) {
    EXPECT_EQ(Play("\\Windows"), 2);  // there, but no tone file
    EXPECT_NE(OnlyLogLine().find("cannot read"), std::string::npos);
}

// Links in the phone lead the player only where they stay inside it: a tone reached through one
// that leads outside is not read.
TEST_F(Player, FollowsLinksOnlyInsideThePhone) {
    const fs::path top = device.Folder().parent_path();
    fs::copy_file(Host("Windows/Alarm1.mid"), top / "outside.mid");
    fs::create_symlink(top / "outside.mid", Host("Out.mid"));
    fs::create_directory_symlink(top, Host("Up"));
    fs::create_symlink("Windows/Alarm1.mid", Host("Relative.mid"));
    fs::create_symlink(Host("Windows/Notify.mid"), Host("Absolute.mid"));
    const struct {
        std::string tone;
        int exitCode;
    } cases[] = {
        {"\\Out.mid", 1}, {"\\Up\\outside.mid", 1}, {"\\Relative.mid", 0}, {"\\Absolute.mid", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(Play(c.tone), c.exitCode) << c.tone;
        if (c.exitCode != 0) {
            EXPECT_NE(LogLines().back().find("cannot read (a link that leads outside the phone)"),
                      std::string::npos)
                << LogLines().back();
        }
    }
}

TEST_F(Player, KeepsOneLogLinePerRunEvenForControlCharacters) {
    EXPECT_NE(Play("\\Windows\\two\nlines.mid"), 0);
    EXPECT_EQ(Play("\\Windows\\Notify.mid"), 0);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWith(lines[0], "qhandler: play \"\\Windows\\two\\x0alines.mid\""));
    EXPECT_TRUE(StartsWith(lines[1], "qhandler: play \"\\Windows\\Notify.mid\": MIDI"));
}

TEST_F(Player, WantsExactlyOneArgument) {
    EXPECT_EQ(Run(kPlayer, {}), 3);
    EXPECT_EQ(Run(kPlayer, {"\\Windows\\Alarm1.mid", "\\Windows\\Alarm4.mid"}), 3);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "qhandler: nothing to play (one argument expected, 0 given)");
}

// --- Installing the player -------------------------------------------------------------------

TEST_F(Player, InstalledCopyIsAnExecutableThatPlays) {
    const fs::path root = device::FileSystemRoot();
    ASSERT_TRUE(device::InstallPlayer(root, kPlayer));
    const fs::path installed = root / "Windows" / "qhandler.exe";
    ASSERT_TRUE(fs::is_regular_file(installed));
    EXPECT_EQ(Read(installed), Read(kPlayer));
    EXPECT_NE(fs::status(installed).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(Run(installed, {"\\Windows\\Strum.mid"}), 0);
    EXPECT_NE(OnlyLogLine().find("Strum.mid\": MIDI"), std::string::npos);
}

TEST_F(Player, InstallReplacesAStaleCopyAndKeepsACurrentOne) {
    const fs::path root = device::FileSystemRoot();
    const fs::path installed = root / "Windows" / "qhandler.exe";
    std::ofstream(installed) << "an older player";
    ASSERT_TRUE(device::InstallPlayer(root, kPlayer));
    EXPECT_EQ(Read(installed), Read(kPlayer));

    struct stat before, after;
    ASSERT_EQ(stat(installed.c_str(), &before), 0);
    ASSERT_TRUE(device::InstallPlayer(root, kPlayer));
    ASSERT_EQ(stat(installed.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // not written again
}

TEST_F(Player, InstallFailsWithoutAPlayerBinary) {
    const fs::path root = device::FileSystemRoot();
    EXPECT_FALSE(device::InstallPlayer(root, device.Folder() / "no-such-player"));
    EXPECT_FALSE(fs::exists(root / "Windows" / "qhandler.exe"));
}

TEST_F(Player, BuildKnowsWhereItsPlayerIs) {
    EXPECT_EQ(fs::canonical(device::PlayerBinary()), fs::canonical(kPlayer));
}

}  // namespace
