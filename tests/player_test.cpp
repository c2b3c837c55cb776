// The player stand-in run as the platform runs it (one argument, exactly as given), its exit code
// and its line in the device log; and installing it into the device folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_folder.h"
#include "device/tones.h"
#include "base/text.h"
#include "support/program.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;

const fs::path kPlayer = TAVONNE_PLAYER;

class Player : public DeviceTest {
  protected:
    void SetUp() override { ASSERT_TRUE(device::InstallPhoneTones(device::FileSystemRoot())); }

    // Runs `program` with `arguments`, each one argument exactly as given, as the platform does;
    // returns its exit code.
    static int Run(const fs::path& program, const std::vector<std::string>& arguments) {
        return RunProgram(program, arguments).exitCode;
    }

    static int Play(const std::string& parameter) { return Run(kPlayer, {parameter}); }

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

    static std::string Read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
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

TEST_F(Player, PlaysEveryBuiltInTone) {
    size_t played = 0;
    for (const device::PhoneTone& tone : device::PhoneTones()) {
        const std::string path = text::ToUtf8(tone.devicePath);
        if (path.rfind("\\Windows\\", 0) != 0)
            continue;
        EXPECT_EQ(Play(path), 0) << path;
        ++played;
    }
    EXPECT_EQ(LogLines().size(), played);
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
    EXPECT_EQ(Play("\\Windows"), 1);
    EXPECT_NE(OnlyLogLine().find("cannot read"), std::string::npos);
}

TEST_F(Player, KeepsOneLogLinePerRunEvenForControlCharacters) {
    EXPECT_NE(Play("\\Windows\\two\nlines.mid"), 0);
    EXPECT_EQ(Play("\\Windows\\Notify.mid"), 0);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(StartsWith(lines[0], "qhandler: play \"\\Windows\\two\\x0Alines.mid\""));
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
