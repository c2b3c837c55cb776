// The script front end: the lines of a script, the front end reading them in this process, and
// a program driven through its standard input as a separate process (SNAP screens and their
// flushing, TYPE, skipped and unknown lines, events, and the end of the input).
#include <windows.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/render.h"
#include "platform/script_frontend.h"
#include "support/temp_device.h"

extern char** environ;

namespace {

using frontend::ParseScriptLine;
using frontend::ScriptLine;
using Kind = ScriptLine::Kind;

// ---- Lines ----

TEST(ScriptLineTest, NamesThePhonesKeys) {
    struct Case {
        const char* line;
        keys::Key key;
    };
    const Case cases[] = {
        {"SOFT1", keys::kSoftKey1}, {"SOFT2", keys::kSoftKey2}, {"UP", keys::kUp},
        {"DOWN", keys::kDown},      {"LEFT", keys::kLeft},      {"RIGHT", keys::kRight},
        {"ACTION", keys::kAction},  {"BACK", keys::kBack},      {"*", keys::kStar},
        {"#", keys::kPound},        {"0", keys::Key::Digit(0)}, {"7", keys::Key::Digit(7)},
    };
    for (const Case& c : cases) {
        ScriptLine parsed = ParseScriptLine(c.line);
        EXPECT_EQ(parsed.kind, Kind::Key) << c.line;
        EXPECT_EQ(parsed.key, c.key) << c.line;
    }
    EXPECT_EQ(ParseScriptLine("SNAP").kind, Kind::Snap);
}

TEST(ScriptLineTest, SkipsBlankLinesAndComments) {
    for (const char* line : {"", "   ", "\t", "# un commentaire", "#SOFT1", "##"})
        EXPECT_EQ(ParseScriptLine(line).kind, Kind::Skip) << '"' << line << '"';
}

TEST(ScriptLineTest, TypeTakesEverythingAfterItsBlank) {
    ScriptLine parsed = ParseScriptLine("TYPE  \\IPSM\\Mes sons ");
    EXPECT_EQ(parsed.kind, Kind::Type);
    EXPECT_EQ(parsed.text, u" \\IPSM\\Mes sons ");
    EXPECT_EQ(ParseScriptLine("TYPE Répétition").text, u"Répétition");
    EXPECT_EQ(ParseScriptLine("TYPE # pas un commentaire").text, u"# pas un commentaire");
    parsed = ParseScriptLine("TYPE");
    EXPECT_EQ(parsed.kind, Kind::Type);
    EXPECT_EQ(parsed.text, u"");
}

TEST(ScriptLineTest, AnythingElseIsUnknown) {
    for (const char* line : {"FOO", "up", "10", "SNAP2", "TYPEX", "SOFT3", "**"})
        EXPECT_EQ(ParseScriptLine(line).kind, Kind::Unknown) << line;
}

// ---- The front end, reading from a pipe in this process ----

class ScriptFrontEndTest : public DeviceTest {
  protected:
    ScriptFrontEndTest() {
        EXPECT_EQ(pipe(fds), 0);
        output = std::tmpfile();
        errors = std::tmpfile();
    }
    ~ScriptFrontEndTest() override {
        close(fds[0]);
        if (fds[1] >= 0)
            close(fds[1]);
        std::fclose(output);
        std::fclose(errors);
    }

    // Writes the whole script, then ends the input.
    void Script(std::string_view text) {
        ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fds[1]);
        fds[1] = -1;
    }

    static std::string Contents(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char chunk[512];
        while (std::size_t count = std::fread(chunk, 1, sizeof chunk, file))
            text.append(chunk, count);
        return text;
    }

    int fds[2] = {-1, -1};
    std::FILE* output = nullptr;
    std::FILE* errors = nullptr;
};

TEST_F(ScriptFrontEndTest, GivesTheKeysOfTheScriptInOrder) {
    frontend::ScriptFrontEnd script(fds[0], output, errors);
    Script("UP\r\n# commentaire\n\nTYPE a é\nFOO\n  DOWN  \nBACK");
    EXPECT_EQ(script.NextKey(), keys::kUp);
    EXPECT_EQ(script.NextKey(), keys::Key::Char(u'a'));
    EXPECT_EQ(script.NextKey(), keys::Key::Char(u' '));
    EXPECT_EQ(script.NextKey(), keys::Key::Char(u'é'));
    EXPECT_EQ(script.NextKey(), keys::kDown);
    // The last line counts without its line end.
    EXPECT_EQ(script.NextKey(), keys::kBack);
    EXPECT_EQ(script.NextKey(), std::nullopt);
    EXPECT_EQ(script.NextKey(), std::nullopt);
    EXPECT_EQ(Contents(errors), "tavonne: line 5: unknown key \"FOO\"\n");
    EXPECT_EQ(Contents(output), "");
}

TEST_F(ScriptFrontEndTest, SnapPrintsEveryRowThenTheMarker) {
    frontend::ScriptFrontEnd script(fds[0], output, errors);
    Script("SNAP\n");
    EXPECT_EQ(script.NextKey(), std::nullopt);
    // No window at all: a blank screen, row by row.
    EXPECT_EQ(Contents(output), std::string(render::kRows, '\n') + "----\n");
}

TEST_F(ScriptFrontEndTest, EventsAndTheEndOfInputHaveLinesOfTheirOwn) {
    frontend::ScriptFrontEnd script(fds[0], output, errors);
    script.Foreground();
    script.Launched(u"\\Windows\\qhandler.exe", u"\\IPSM\\Application Data\\Sounds\\Réveil.wav");
    script.ReportInputEnded();
    EXPECT_EQ(Contents(output),
              "event: foreground\n"
              "event: launch\t\\Windows\\qhandler.exe\t\\IPSM\\Application Data\\Sounds\\"
              "Réveil.wav\n");
    EXPECT_EQ(Contents(errors), "tavonne: input ended while a screen is open\n");
}

// ---- A program driven through the script front end ----

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(20);

// The demo program run as a child process with pipes for its standard input, output and error,
// in the test's device folder (the environment is inherited).
class Program {
  public:
    Program() {
        int in[2], out[2], err[2];
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        char program[] = TAVONNE_DEMO_PROGRAM;
        char* argv[] = {program, nullptr};
        EXPECT_EQ(posix_spawn(&pid_, program, &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        input_ = in[1];
        output_ = out[0];
        errors_ = err[0];
    }
    ~Program() {
        CloseInput();
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(output_);
        close(errors_);
    }

    void Write(std::string_view text) {
        ASSERT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void CloseInput() {
        if (input_ >= 0)
            close(input_);
        input_ = -1;
    }

    // Reads until standard output holds `marker` after what earlier calls consumed; gives what
    // came up to and including it. Empty when it does not come in time.
    std::string ReadUntil(std::string_view marker) {
        auto deadline = Clock::now() + kPatience;
        while (true) {
            std::size_t found = out.find(marker, consumed_);
            if (found != std::string::npos) {
                std::string part = out.substr(consumed_, found + marker.size() - consumed_);
                consumed_ = found + marker.size();
                return part;
            }
            if (Clock::now() > deadline || !ReadSome(deadline))
                return {};
        }
    }

    // Reads everything until both streams end, then gives the exit status (128 + the signal
    // for a program killed by one; -1 when it does not end in time).
    int Finish() {
        CloseInput();
        auto deadline = Clock::now() + kPatience;
        while (ReadSome(deadline)) {
        }
        int status = 0;
        while (Clock::now() < deadline) {
            pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10000);
        }
        return -1;
    }

    std::string out;
    std::string err;

  private:
    // Reads what is there on either stream, waiting for some; false once both have ended or
    // the deadline has passed.
    bool ReadSome(Clock::time_point deadline) {
        pollfd fds[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
        int open = (outputOpen_ ? 1 : 0) + (errorsOpen_ ? 1 : 0);
        if (open == 0)
            return false;
        if (!outputOpen_)
            fds[0].fd = -1;
        if (!errorsOpen_)
            fds[1].fd = -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[4096];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0)
                continue;
            ssize_t count = read(fds[i].fd, chunk, sizeof chunk);
            if (count > 0)
                (i == 0 ? out : err).append(chunk, static_cast<std::size_t>(count));
            else
                (i == 0 ? outputOpen_ : errorsOpen_) = false;
        }
        return true;
    }

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int errors_ = -1;
    bool outputOpen_ = true;
    bool errorsOpen_ = true;
    std::size_t consumed_ = 0;
};

class ScriptProgramTest : public DeviceTest {
  protected:
    // A child that has ended does not take the test with it when written to.
    ScriptProgramTest() { signal(SIGPIPE, SIG_IGN); }

    struct Outcome {
        int status;
        std::string out;
        std::string err;
    };
    static Outcome Run(std::string_view script) {
        Program program;
        program.Write(script);
        int status = program.Finish();
        return {status, program.out, program.err};
    }
};

const std::string kDemoScreen =
    "Démo\n"
    " Sonnerie principale :\n"
    "\n"
    ">◀ Standard              ▶\n"
    "\n"
    " Chercher sonneries dans :\n"
    "\n"
    " [                        ]\n"
    "\n\n\n\n\n\n\n\n\n"
    "Terminé                 Menu ▲\n"
    "----\n";

TEST_F(ScriptProgramTest, SnapPrintsTheScreenAsTheTerminalShowsIt) {
    Outcome outcome = Run("SNAP\nSOFT1\n");
    EXPECT_EQ(outcome.out, kDemoScreen);
    // The program's own ending: its result is the exit status, its debug output on stderr.
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.err, "demo: dossier=[]\n");
}

TEST_F(ScriptProgramTest, EachSnapReachesTheReaderAtOnce) {
    Program program;
    program.Write("SNAP\n");
    // The input is still open: only a flushed screen can arrive now.
    EXPECT_EQ(program.ReadUntil("----\n"), kDemoScreen);
    program.Write("SOFT2\nSNAP\n");
    std::string menu = program.ReadUntil("----\n");
    EXPECT_NE(menu.find("│>1 Jouer        │\n"), std::string::npos) << menu;
    program.Write("BACK\nSOFT1\n");
    EXPECT_EQ(program.Finish(), 3);
}

TEST_F(ScriptProgramTest, TypeTypesTheTextWithItsBlanksAndAccents) {
    Outcome outcome = Run("DOWN\nTYPE  \\IPSM\\Sons é \nSNAP\nSOFT1\n");
    EXPECT_NE(outcome.out.find(">[ \\IPSM\\Sons é ▏         ]\n"), std::string::npos)
        << outcome.out;
    EXPECT_EQ(outcome.err, "demo: dossier=[ \\IPSM\\Sons é ]\n");
    EXPECT_EQ(outcome.status, 3);
}

TEST_F(ScriptProgramTest, SkipsCommentsAndBlankLinesAndReportsUnknownLines) {
    Outcome outcome =
        Run("# Choisir un dossier\n"
            "\n"
            "FOO\n"
            "DOWN\r\n"
            "   \n"
            "bar baz\r\n"
            "TYPE x\r\n"
            "SOFT1");
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.err,
              "tavonne: line 3: unknown key \"FOO\"\n"
              "tavonne: line 6: unknown key \"bar baz\"\n"
              "demo: dossier=[x]\n");
    EXPECT_EQ(outcome.out, "");
}

TEST_F(ScriptProgramTest, TheEndOfInputWhileAScreenIsOpenEndsWithStatus2AndSavesNothing) {
    Outcome outcome = Run("DOWN\nTYPE abc\n");
    EXPECT_EQ(outcome.status, 2);
    // "Terminé" never ran: its line is not there.
    EXPECT_EQ(outcome.err, "tavonne: input ended while a screen is open\n");

    // The same in a message box, a loop of its own.
    outcome = Run("SOFT2\n2\nSNAP\n");
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.out.find("Alerte!\n"), std::string::npos);
    EXPECT_EQ(outcome.err, "tavonne: input ended while a screen is open\n");
}

TEST_F(ScriptProgramTest, ALaunchIsAnEventLine) {
    Outcome outcome = Run("RIGHT\nSOFT2\n1\nSOFT1\n");
    EXPECT_EQ(outcome.out,
              "event: launch\t\\Windows\\qhandler.exe\t\\IPSM\\Application Data\\Sounds\\"
              "Mouvement perpétuel.wav\n");
    EXPECT_EQ(outcome.status, 3);
}

TEST_F(ScriptProgramTest, ASecondCopyBringsTheFirstToTheFrontAndEnds) {
    Program first;
    first.Write("SOFT2\n3\nSNAP\n");
    std::string about = first.ReadUntil("----\n");
    ASSERT_EQ(about.rfind("A propos...\n", 0), 0u) << about;

    Outcome second = Run("SNAP\n");
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err, "");

    EXPECT_EQ(first.ReadUntil("\n"), "event: foreground\n");
    first.Write("SNAP\n");
    EXPECT_EQ(first.ReadUntil("----\n"), kDemoScreen);
    EXPECT_EQ(first.Finish(), 2);
}

}  // namespace
