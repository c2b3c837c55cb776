// The script front end: the lines of a script, the front end reading them in this process, where
// debug output goes, and the program driven through its standard input as a separate process
// (SNAP screens and their flushing, TYPE, skipped and unknown lines, launch events, and the end
// of the input).
#include <windows.h>

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "device/device_folder.h"
#include "device/provision.h"
#include "platform/phone/frontend.h"
#include "platform/phone/render.h"
#include "platform/phone/script_frontend.h"
#include "support/files.h"
#include "support/program.h"
#include "support/temp_device.h"

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

// A folder name holding a line break cannot forge a line: its field is encoded on one line.
TEST_F(ScriptFrontEndTest, AnEventFieldNeverHoldsALineEndOrATab) {
    frontend::ScriptFrontEnd script(fds[0], output, errors);
    script.Launched(u"\\Windows\\qhandler.exe", u"\\Sons\\\nevent: foreground\n\r\t100%\x7F.wav");
    EXPECT_EQ(Contents(output),
              "event: launch\t\\Windows\\qhandler.exe\t"
              "\\Sons\\%0Aevent: foreground%0A%0D%09100%25%7F.wav\n");
}

// A line of many megabytes is read in time proportional to its length (under the test's
// timeout only if so: a reader that searched the whole line again after each read of a few
// kilobytes would not be), and the complaint quotes only its start.
TEST_F(ScriptFrontEndTest, AVeryLongLineIsReadOnceAndQuotedShort) {
    const int input = memfd_create("script", MFD_CLOEXEC);
    ASSERT_GE(input, 0);
    {
        const std::string script = "é" + std::string(96 << 20, 'x') + "\nSOFT1\n";
        ASSERT_EQ(write(input, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    }
    lseek(input, 0, SEEK_SET);
    frontend::ScriptFrontEnd reader(input, output, errors);
    EXPECT_EQ(reader.NextKey(), keys::kSoftKey1);
    close(input);
    EXPECT_EQ(Contents(errors),
              "tavonne: line 1: unknown key \"é" + std::string(79, 'x') + "...\"\n");
}

// ---- Where the program's debug output goes, and its command line ----

TEST_F(ScriptFrontEndTest, DebugOutputGoesToStandardErrorInScriptModeAndToTheLogOnATerminal) {
    ASSERT_TRUE(device::EnsureProvisioned());
    frontend::SetUpDebugOutput(frontend::Kind::Terminal);
    OutputDebugStringW(u"sur l'écran: jamais\n");
    testing::internal::CaptureStderr();
    frontend::SetUpDebugOutput(frontend::Kind::Script);
    OutputDebugStringW(u"vers stderr\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "vers stderr\n");
    const std::string logged = ReadFile(device::LogFile());
    EXPECT_NE(logged.find("sur l'écran: jamais\n"), std::string::npos);
    EXPECT_EQ(logged.find("vers stderr"), std::string::npos);
}

TEST(CommandLineTest, JoinsTheArgumentsQuotingThoseWithBlanksOrQuotes) {
    char program[] = "tavonne", plain[] = "-x", blanks[] = "Mes sons", quote[] = "a\"b",
         slashes[] = "c:\\d\\", empty[] = "";
    char* argv[] = {program, plain, blanks, quote, slashes, empty, nullptr};
    EXPECT_EQ(frontend::CommandLine(1, argv), u"");
    EXPECT_EQ(frontend::CommandLine(6, argv), u"-x \"Mes sons\" \"a\\\"b\" c:\\d\\ \"\"");
}

// ---- The program driven through the script front end, as a separate process ----

class ScriptProgramTest : public DeviceTest {
  protected:
    ScriptProgramTest() { EXPECT_EQ(RunDeviceTool({"init"}).exitCode, 0); }

    static ProgramResult Run(const std::string& script) {
        return RunProgram(TAVONNE_PROGRAM, {}, script);
    }

    // Not the first start: the program opens on its main screen.
    static void Configured() {
        ProgramResult added = RunDeviceTool(
            {"reg", "add", "HKCU\\Software\\Tavonne", "/v", "Dossier", "/d", "", "/f"});
        ASSERT_EQ(added.exitCode, 0) << added.err;
    }
};

// The first start's alert, as SNAP prints it: every row, no trailing blanks, then the marker.
const std::string kAlert =
    "Alerte!\n"
    "\n"
    " Le dossier contenant les\n"
    " sonneries n'a pas encore été\n"
    " paramétré!\n"
    " Veuillez le paramétrer.\n"
    "\n\n\n\n\n\n\n\n\n\n\n"
    "OK\n"
    "----\n";

TEST_F(ScriptProgramTest, SnapPrintsTheScreenAsTheTerminalShowsIt) {
    ProgramResult run = Run("SNAP\n");
    EXPECT_EQ(run.out, kAlert);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "tavonne: input ended while a screen is open\n");
}

TEST_F(ScriptProgramTest, EachSnapReachesTheReaderAtOnce) {
    ProgramSession tavonne(TAVONNE_PROGRAM);
    // The input stays open: only a flushed screen can arrive now.
    tavonne.Send("SNAP");
    EXPECT_EQ(tavonne.ReadThrough("----"), kAlert);
    tavonne.Send("SOFT1");
    tavonne.Send("SNAP");
    std::optional<std::string> settings = tavonne.ReadThrough("----");
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->substr(0, settings->find('\n')), "Paramètres");
    tavonne.Send("SOFT2");
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
}

TEST_F(ScriptProgramTest, TypeTypesTheTextWithItsBlanksAndAccents) {
    ProgramSession tavonne(TAVONNE_PROGRAM);
    tavonne.Send("SOFT1");
    tavonne.Send("TYPE  \\IPSM\\Sons é ");
    std::string settings = tavonne.Snap();
    EXPECT_NE(settings.find("\n>[ \\IPSM\\Sons é ▏         ]\n"), std::string::npos) << settings;
    tavonne.Send("SOFT1");
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    EXPECT_EQ(tavonne.Finish(), 1);
    ProgramResult folder =
        RunDeviceTool({"reg", "query", "HKCU\\Software\\Tavonne", "/v", "Dossier"});
    EXPECT_NE(folder.out.find("REG_SZ     \\IPSM\\Sons é \n"), std::string::npos) << folder.out;
}

TEST_F(ScriptProgramTest, SkipsCommentsAndBlankLinesAndReportsUnknownLines) {
    ProgramResult run =
        Run("# Premier démarrage : l'alerte, puis les paramètres\n"
            "\n"
            "FOO\n"
            "SOFT1\r\n"
            "   \n"
            "bar baz\r\n"
            "\x1b]0;PWNED\x07\x1b[2J\xc2\x9b\x7f\n"
            "# Annuler, puis Menu et Annuler\n"
            "SOFT2\n"
            "SOFT2\n"
            "4");
    EXPECT_EQ(run.exitCode, 1);
    // A terminal shows the line rather than obeying it.
    EXPECT_EQ(run.err,
              "tavonne: line 3: unknown key \"FOO\"\n"
              "tavonne: line 6: unknown key \"bar baz\"\n"
              "tavonne: line 7: unknown key \"\\x1b]0;PWNED\\x07\\x1b[2J\\xc2\\x9b\\x7f\"\n");
    EXPECT_EQ(run.out, "");
}

TEST_F(ScriptProgramTest, TheEndOfInputInAnyLoopEndsWithStatus2AndSavesNothing) {
    // In the alert's own loop, before anything else.
    ProgramResult run = Run("");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "tavonne: input ended while a screen is open\n");

    // In the settings screen, nested in the main screen's loop: the typed folder is not stored.
    Configured();
    run = Run("SOFT2\n2\nTYPE \\Perso\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "tavonne: input ended while a screen is open\n");
    ProgramResult folder =
        RunDeviceTool({"reg", "query", "HKCU\\Software\\Tavonne", "/v", "Dossier"});
    EXPECT_EQ(folder.out.find("Perso"), std::string::npos) << folder.out;
}

TEST_F(ScriptProgramTest, ALaunchIsAnEventLineWithTheProgramAndItsParameters) {
    Configured();
    ProgramResult run = Run("SOFT2\n1\nSOFT2\n4\n");
    ASSERT_EQ(run.exitCode, 1) << run.err;
    const std::string prefix = "event: launch\t\\Windows\\qhandler.exe\t\\";
    ASSERT_EQ(run.out.rfind(prefix, 0), 0u) << run.out;
    // One line: the parameter is the tone's path, whatever it is.
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1);
    EXPECT_EQ(run.out.find('\t', prefix.size()), std::string::npos);
}

}  // namespace
