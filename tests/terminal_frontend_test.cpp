// The terminal front end: the keyboard as the phone's keys, and a program run on a
// pseudo-terminal: its screen appears, keys reach it, and the terminal gets its modes back when
// the program ends and when it is killed.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#define NCURSES_NOMACROS 1
#include <curses.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "device/device_folder.h"
#include "device/registry_store.h"
#include "platform/phone/status_line.h"
#include "platform/phone/terminal_frontend.h"
#include "support/program.h"
#include "support/temp_device.h"

namespace {

using frontend::terminal::KeyFor;

TEST(TerminalKeysTest, FunctionKeysArrowsEnterAndBackspaceAreThePhonesKeys) {
    EXPECT_EQ(KeyFor(KEY_F(1), true), keys::kSoftKey1);
    EXPECT_EQ(KeyFor(KEY_F(2), true), keys::kSoftKey2);
    EXPECT_EQ(KeyFor(KEY_UP, true), keys::kUp);
    EXPECT_EQ(KeyFor(KEY_DOWN, true), keys::kDown);
    EXPECT_EQ(KeyFor(KEY_LEFT, true), keys::kLeft);
    EXPECT_EQ(KeyFor(KEY_RIGHT, true), keys::kRight);
    EXPECT_EQ(KeyFor(KEY_ENTER, true), keys::kAction);
    EXPECT_EQ(KeyFor('\r', false), keys::kAction);
    EXPECT_EQ(KeyFor('\n', false), keys::kAction);
    EXPECT_EQ(KeyFor(KEY_BACKSPACE, true), keys::kBack);
    EXPECT_EQ(KeyFor(0x7F, false), keys::kBack);
    EXPECT_EQ(KeyFor(0x08, false), keys::kBack);
    EXPECT_EQ(KeyFor(KEY_F(5), true), std::nullopt);
}

TEST(TerminalKeysTest, DigitsStarAndPoundAreKeysAndOtherCharactersAreTyped) {
    EXPECT_EQ(KeyFor('0', false), keys::Key::Digit(0));
    EXPECT_EQ(KeyFor('9', false), keys::Key::Digit(9));
    EXPECT_EQ(KeyFor('*', false), keys::kStar);
    EXPECT_EQ(KeyFor('#', false), keys::kPound);
    EXPECT_EQ(KeyFor('a', false), keys::Key::Char(u'a'));
    EXPECT_EQ(KeyFor(' ', false), keys::Key::Char(u' '));
    EXPECT_EQ(KeyFor(U'é', false), keys::Key::Char(u'é'));
    EXPECT_EQ(KeyFor('\t', false), std::nullopt);
    EXPECT_EQ(KeyFor(0x9B, false), std::nullopt);
}

// ---- The line under the phone, fitted to the terminal ----

TEST(StatusLineTest, ALineTooLongLosesItsNamesEndFirstAndTheHelpSaysLess) {
    using frontend::status::Line;
    const Line playing = frontend::status::Parse(L"♪ \tMouvement perpétuel.mid\t, 12,5 s");
    EXPECT_EQ(playing, (Line{L"♪ ", L"Mouvement perpétuel.mid", L", 12,5 s"}));
    const Line failed = frontend::status::Parse(L"\tStandard.wav\t : pas de sortie audio");
    const Line plain = frontend::status::Parse(L"Déjà ouvert : ramené au premier plan");
    EXPECT_EQ(plain, (Line{L"Déjà ouvert : ramené au premier plan", {}, {}}));
    const struct {
        Line line;
        std::size_t width;
        std::wstring shown;
    } cases[] = {
        {playing, 80, L"♪ Mouvement perpétuel.mid, 12,5 s"},
        {Line{L"♪ ", L"Les principes de Bach, deuxième partie.mid", L", 5,7 s"}, 40,
         L"♪ Les principes de Bach, deuxièm…, 5,7 s"},
        {playing, 30, L"♪ Mouvement perpétuel…, 12,5 s"},
        {playing, 12, L"♪ M…, 12,5 s"},
        {playing, 11, L"♪ Mouvemen…"},
        {failed, 34, L"Standard.wav : pas de sortie audio"},
        {failed, 30, L"Standar… : pas de sortie audio"},
        {plain, 30, L"Déjà ouvert : ramené au premi…"},
        {plain, 0, L""},
    };
    for (const auto& c : cases) {
        const std::wstring shown = frontend::status::Fit(c.line, c.width);
        EXPECT_EQ(shown, c.shown) << c.width;
        EXPECT_LE(shown.size(), c.width);
    }
    EXPECT_EQ(frontend::status::Help(80),
              L"F1/F2 touches programmables · ←↑→↓ · Entrée action · Retour ⌫");
    // Said whole down to the phone's width between its frame's corners.
    for (std::size_t width : {40u, 32u, 30u}) {
        const std::wstring help = frontend::status::Help(width);
        EXPECT_LE(help.size(), width);
        EXPECT_EQ(help.rfind(L"F1/F2 · ←↑→↓ · Entrée", 0), 0u) << width;
        EXPECT_EQ(help.back(), L'⌫') << width;
    }
    EXPECT_EQ(frontend::status::Help(10), L"F1/F2 · ←…");
}

// ---- A program on a pseudo-terminal ----

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);

class TerminalProgramTest : public DeviceTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
        ASSERT_EQ(tcgetattr(slave, &before), 0);
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
            dup2(slave, STDIN_FILENO);
            dup2(slave, STDOUT_FILENO);
            dup2(slave, STDERR_FILENO);
            close(master);
            close(slave);
            setenv("TERM", term, 1);
            setenv("LANG", "C.UTF-8", 1);
            unsetenv("LC_ALL");
            execl(TAVONNE_PROGRAM, TAVONNE_PROGRAM, static_cast<char*>(nullptr));
            _exit(127);
        }
    }

    void TearDown() override {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(master);
        close(slave);
    }

    // Reads the terminal until `marker` has come out; false when it does not in time.
    bool ReadUntil(std::string_view marker) {
        auto deadline = Clock::now() + kPatience;
        while (output.find(marker) == std::string::npos) {
            if (!ReadSome(deadline))
                return false;
        }
        return true;
    }

    // Waits for the program's end, reading what it writes meanwhile; its exit status, or 128 +
    // the signal that ended it, or -1 when it does not end in time.
    int Finish() {
        auto deadline = Clock::now() + kPatience;
        while (Clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                while (ReadSome(Clock::now() + std::chrono::milliseconds(200))) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ReadSome(Clock::now() + std::chrono::milliseconds(20));
        }
        return -1;
    }

    void Type(std::string_view keys) {
        ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // From the first start's alert through the settings screen; false when the main screen does
    // not come.
    bool ToTheMainScreen() {
        Type("\033OP");  // F1: "OK", then the settings screen
        Type("\033OQ");  // F2: "Annuler", then the main screen
        return ReadUntil("Sonnerie principale :");
    }

    termios Now() const {
        termios modes{};
        EXPECT_EQ(tcgetattr(slave, &modes), 0);
        return modes;
    }

    void ExpectModesAsBefore() const {
        termios after = Now();
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(after.c_oflag, before.c_oflag);
        EXPECT_TRUE(after.c_lflag & ICANON);
        EXPECT_TRUE(after.c_lflag & ECHO);
    }

    // The alternate screen was entered, then left again.
    void ExpectScreenLeft() const {
        std::size_t entered = output.find("\033[?1049h");
        ASSERT_NE(entered, std::string::npos);
        EXPECT_NE(output.find("\033[?1049l", entered), std::string::npos);
    }

    // The terminal the program is started on, which a test may change before SetUp.
    winsize size{30, 80, 0, 0};
    const char* term = "xterm";
    int master = -1;
    int slave = -1;
    pid_t pid = -1;
    termios before{};
    std::string output;

  private:
    bool ReadSome(Clock::time_point deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd wait{master, POLLIN, 0};
        if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[4096];
        ssize_t count = read(master, chunk, sizeof chunk);
        if (count <= 0)
            return false;
        output.append(chunk, static_cast<std::size_t>(count));
        return true;
    }
};

TEST_F(TerminalProgramTest, ShowsTheScreenTakesKeysAndGivesTheTerminalBackAtExit) {
    // The first start's alert, in the frame, with the keys' help below.
    ASSERT_TRUE(ReadUntil("Le dossier contenant les")) << output;
    EXPECT_TRUE(ReadUntil("F1/F2 touches programmables")) << output;
    EXPECT_NE(output.find("Alerte!"), std::string::npos);
    // While it runs, keys come one by one, unechoed.
    EXPECT_FALSE(Now().c_lflag & ICANON);
    EXPECT_FALSE(Now().c_lflag & ECHO);

    ASSERT_TRUE(ToTheMainScreen()) << output;
    Type("\033OQ");  // F2: the menu
    ASSERT_TRUE(ReadUntil("1 Jouer")) << output;
    Type("\033OB");  // Down
    Type("\177");    // Backspace: the Back key closes the menu
    Type("\033OQ");  // F2: the menu again
    Type("4");       // "Annuler"
    EXPECT_EQ(Finish(), 1);
    ExpectModesAsBefore();
    ExpectScreenLeft();
}

// Nothing is heard on a machine without sound, and the line under the phone says why.
TEST_F(TerminalProgramTest, ShowsUnderThePhoneWhyNothingIsHeardAndWhenBroughtForward) {
    ASSERT_TRUE(ReadUntil("Le dossier contenant les")) << output;
    ASSERT_TRUE(ToTheMainScreen()) << output;
    Type("\033OQ");  // F2: the menu
    Type("1");       // "Jouer"
    EXPECT_TRUE(ReadUntil("Standard.wav : pas de sortie audio")) << output;
    // A second start brings this copy forward, and the line says so.
    EXPECT_EQ(RunProgram(TAVONNE_PROGRAM, {}, "SNAP\n").exitCode, 1);
    EXPECT_TRUE(ReadUntil("Déjà ouvert : ramené au premier plan")) << output;
}

// At the smallest size the phone fits in, the line goes over the frame's bottom edge.
class SmallestTerminalTest : public TerminalProgramTest {
  protected:
    SmallestTerminalTest() { size = {20, 32, 0, 0}; }
};

TEST_F(SmallestTerminalTest, StillShowsTheLineUnderThePhone) {
    ASSERT_TRUE(ReadUntil("Le dossier contenant les")) << output;
    EXPECT_TRUE(ReadUntil("F1/F2 · ←↑→↓ · Entrée · ⌫")) << output;
    ASSERT_TRUE(ToTheMainScreen()) << output;
    Type("\033OQ");  // F2: the menu
    Type("1");       // "Jouer"
    EXPECT_TRUE(ReadUntil("Standar… : pas de sortie audio")) << output;
}

class DumbTerminalTest : public TerminalProgramTest {
  protected:
    DumbTerminalTest() { term = "dumb"; }
};

TEST_F(DumbTerminalTest, IsRefusedWithTheReason) {
    EXPECT_EQ(Finish(), 4);
    EXPECT_NE(output.find("cannot use this terminal (TERM=dumb): it cannot move its cursor"),
              std::string::npos)
        << output;
}

// Another program holds the registry for the whole start: the start waits one limit in all with
// the phone on screen and the line saying why, then says why it ends, once.
class BusyRegistryTerminalTest : public TerminalProgramTest {
  protected:
    BusyRegistryTerminalTest() {
        EXPECT_EQ(RunDeviceTool({"init"}).exitCode, 0);
        EXPECT_EQ(sqlite3_open(device::RegistryFile().c_str(), &holder), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        started = Clock::now();
    }
    ~BusyRegistryTerminalTest() override { sqlite3_close(holder); }

    sqlite3* holder = nullptr;
    Clock::time_point started;
};

TEST_F(BusyRegistryTerminalTest, WaitsOneLimitSayingSoThenEndsWithTheReasonOnce) {
    EXPECT_TRUE(ReadUntil("Registre du téléphone occupé…")) << output;
    EXPECT_EQ(Finish(), 3);
    const auto waited = Clock::now() - started;
    EXPECT_GE(waited, std::chrono::seconds(device::registry::kBusyTimeoutSeconds));
    EXPECT_LT(waited, std::chrono::seconds(device::registry::kBusyTimeoutSeconds + 5));
    const std::string reason = "is held by another program for more than";
    const std::size_t said = output.find(reason);
    EXPECT_NE(said, std::string::npos) << output;
    EXPECT_EQ(output.find(reason, said + 1), std::string::npos) << output;
    ExpectModesAsBefore();
}

TEST_F(TerminalProgramTest, GivesTheTerminalBackWhenKilled) {
    ASSERT_TRUE(ReadUntil("Le dossier contenant les")) << output;
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(Finish(), 128 + SIGTERM);
    ExpectModesAsBefore();
    ExpectScreenLeft();
}

}  // namespace
