// ShellExecuteExW: what the launched program receives, where its output goes, and its failures.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/device_folder.h"
#include "device/paths.h"
#include "platform/shell32/launch.h"
#include "base/text.h"
#include "support/files.h"
#include "support/temp_device.h"

namespace {

// Writes what it was given into $TAVONNE_DEVICE/record (in one rename, so a reader never sees a
// partial record), and a line on each of its standard output and error.
constexpr char kRecorder[] = R"sh(#!/bin/sh
out="$TAVONNE_DEVICE/record"
{
    echo "count=$#"
    for a in "$@"; do printf 'arg=[%s]\n' "$a"; done
    echo "device=$TAVONNE_DEVICE"
    echo "cwd=$(pwd -P)"
    if read -r line; then echo "stdin=data"; else echo "stdin=eof"; fi
} > "$out.tmp"
echo "recorder: to stdout"
echo "recorder: to stderr" >&2
mv "$out.tmp" "$out"
)sh";

void WriteFile(const std::filesystem::path& file, const std::string& content, mode_t mode) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    chmod(file.c_str(), mode);
}

class ProcessLaunch : public DeviceTest {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(device::FileSystemRoot() / "IPSM" / "Application Data");
        WriteFile(device::HostPath(u"\\Windows\\recorder.exe"), kRecorder, 0755);
    }

    std::filesystem::path Record() const { return device::Folder() / "record"; }

    // The record of the next launch; the launched program is not our child, so it is awaited by
    // its file.
    std::optional<std::string> AwaitRecord() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::filesystem::exists(Record()))
                return ReadFile(Record());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::nullopt;
    }

    static SHELLEXECUTEINFOW Info(LPCWSTR file, LPCWSTR parameters) {
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof info;
        info.lpVerb = u"open";
        info.lpFile = file;
        info.lpParameters = parameters;
        return info;
    }
};

TEST_F(ProcessLaunch, TheParameterStringArrivesAsOneArgumentExactlyAsGiven) {
    const std::u16string parameters =
        u"\\IPSM\\Application Data\\Sounds\\Ma sonnerie é.wav \"cité\" 'x'  $(touch pwned) ; "
        u"`touch pwned2` * ? | > out & $HOME \\n";
    SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", parameters.c_str());
    ASSERT_TRUE(ShellExecuteExW(&info));
    EXPECT_GT(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
    EXPECT_EQ(info.hProcess, nullptr);

    const std::optional<std::string> record = AwaitRecord();
    ASSERT_TRUE(record);
    std::ostringstream expected;
    expected << "count=1\n"
             << "arg=[" << text::ToUtf8(parameters) << "]\n"
             << "device=" << device::Folder().string() << "\n"
             << "cwd=" << std::filesystem::canonical(device::FileSystemRoot()).string() << "\n"
             << "stdin=eof\n";
    EXPECT_EQ(*record, expected.str());
    EXPECT_FALSE(std::filesystem::exists(device::FileSystemRoot() / "pwned"));
    EXPECT_FALSE(std::filesystem::exists(device::FileSystemRoot() / "pwned2"));
    EXPECT_FALSE(std::filesystem::exists(device::FileSystemRoot() / "out"));
}

TEST_F(ProcessLaunch, NoParametersMeansNoArgument) {
    for (LPCWSTR parameters : {static_cast<LPCWSTR>(nullptr), u""}) {
        std::filesystem::remove(Record());
        SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", parameters);
        ASSERT_TRUE(ShellExecuteExW(&info));
        const std::optional<std::string> record = AwaitRecord();
        ASSERT_TRUE(record);
        EXPECT_TRUE(record->starts_with("count=0\n")) << *record;
    }
}

TEST_F(ProcessLaunch, TheProgramIsFoundWithoutRegardToCaseAndGetsTheDeviceFolder) {
    setenv("TAVONNE_DEVICE", "/somewhere/else", 1);  // the device folder was already chosen
    SHELLEXECUTEINFOW info = Info(u"\\WINDOWS\\Recorder.EXE", u"a");
    ASSERT_TRUE(ShellExecuteExW(&info));
    setenv("TAVONNE_DEVICE", device.Folder().c_str(), 1);
    const std::optional<std::string> record = AwaitRecord();
    ASSERT_TRUE(record);
    EXPECT_NE(record->find("device=" + device::Folder().string() + "\n"), std::string::npos)
        << *record;
}

TEST_F(ProcessLaunch, OutputGoesToTheDeviceLogNeverToOurTerminal) {
    WriteFile(device::LogFile(), "earlier line\n", 0644);
    char capturePattern[] = "/tmp/tavonne-capture-XXXXXX";
    const int capture = mkstemp(capturePattern);
    ASSERT_GE(capture, 0);
    const int savedOut = dup(1), savedErr = dup(2);
    fflush(stdout);
    dup2(capture, 1);
    dup2(capture, 2);
    SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", u"x");
    const BOOL launched = ShellExecuteExW(&info);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    ASSERT_TRUE(launched);
    ASSERT_TRUE(AwaitRecord());

    // The program wrote both lines before its record appeared.
    EXPECT_EQ(ReadFile(device::LogFile()),
              "earlier line\nrecorder: to stdout\nrecorder: to stderr\n");
    close(capture);
    EXPECT_EQ(ReadFile(capturePattern).find("recorder:"), std::string::npos);
    unlink(capturePattern);
}

TEST_F(ProcessLaunch, NoChildIsLeftBehindToReap) {
    SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", u"x");
    ASSERT_TRUE(ShellExecuteExW(&info));
    ASSERT_TRUE(AwaitRecord());
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(ProcessLaunch, TheVerbIsOpenOrNone) {
    for (LPCWSTR verb : {static_cast<LPCWSTR>(nullptr), u"", u"OPEN"}) {
        std::filesystem::remove(Record());
        SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", u"x");
        info.lpVerb = verb;
        EXPECT_TRUE(ShellExecuteExW(&info));
        EXPECT_TRUE(AwaitRecord());
    }
    for (LPCWSTR verb : {u"print", u"edit", u"opennew"}) {
        SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", u"x");
        info.lpVerb = verb;
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ShellExecuteExW(&info));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_ASSOCIATION));
        EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_NOASSOC);
    }
}

// A program that cannot start is named, with the reason, in the phone's log and on its status
// line (its name between tabs).
void ExpectToldWhy(LPCWSTR file, const std::string& name, const std::string& reason) {
    EXPECT_EQ(ReadFile(device::StatusFile()), "\t" + name + "\t : " + reason + "\n");
    EXPECT_NE(ReadFile(device::LogFile()).find("shell: cannot start " + text::ToUtf8(file)),
              std::string::npos)
        << ReadFile(device::LogFile());
}

TEST_F(ProcessLaunch, AMissingProgramIsFileNotFound) {
    const std::pair<LPCWSTR, std::string> cases[] = {
        {u"\\Windows\\qhandler2.exe", "qhandler2.exe"},
        {u"\\Nowhere\\qhandler.exe", "qhandler.exe"},
        {u"", ""},
    };
    for (const auto& [file, name] : cases) {
        SHELLEXECUTEINFOW info = Info(file, u"x");
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ShellExecuteExW(&info)) << text::ToUtf8(file);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_FNF);
        if (!name.empty())
            ExpectToldWhy(file, name, "programme introuvable");
    }
}

TEST_F(ProcessLaunch, WhatIsNotAProgramIsAccessDenied) {
    WriteFile(device::HostPath(u"\\Windows\\notes.txt"), "#!/bin/sh\necho hi\n", 0644);
    // Executable, but of no format the system can run.
    WriteFile(device::HostPath(u"\\Windows\\plain.exe"), "echo hi\n", 0755);
    // A program of the host, reached through a link that leads out of the phone.
    const std::filesystem::path outside = device::Folder().parent_path() / "outside.exe";
    WriteFile(outside, kRecorder, 0755);
    std::filesystem::create_symlink(outside, device::HostPath(u"\\Windows\\away.exe"));
    for (LPCWSTR file :
         {u"\\Windows\\notes.txt", u"\\Windows", u"\\Windows\\plain.exe", u"\\Windows\\away.exe"}) {
        SHELLEXECUTEINFOW info = Info(file, u"x");
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ShellExecuteExW(&info)) << text::ToUtf8(file);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << text::ToUtf8(file);
        EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_ACCESSDENIED);
        const std::u16string_view path(file);
        ExpectToldWhy(file, text::ToUtf8(path.substr(path.rfind(u'\\') + 1)),
                      "programme non exécutable");
    }
    EXPECT_FALSE(std::filesystem::exists(Record()));
}

TEST_F(ProcessLaunch, TheStructureMustHaveItsOwnSize) {
    EXPECT_FALSE(ShellExecuteExW(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // The size of a 32-bit SHELLEXECUTEINFO is not this platform's.
    for (DWORD size : {DWORD{0}, DWORD{60}, DWORD{sizeof(SHELLEXECUTEINFOW) - 1},
                       DWORD{sizeof(SHELLEXECUTEINFOW) + 1}}) {
        SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", u"x");
        info.cbSize = size;
        info.hInstApp = reinterpret_cast<HINSTANCE>(INT_PTR{77});
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ShellExecuteExW(&info)) << size;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), 77) << "untouched";
    }
    SHELLEXECUTEINFOW info = Info(nullptr, u"x");
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ProcessLaunch, MasksThatWouldChangeWhatRunsAreRefused) {
    for (ULONG mask :
         {ULONG{SEE_MASK_CLASSNAME}, ULONG{SEE_MASK_IDLIST}, ULONG{SEE_MASK_DOENVSUBST}}) {
        SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", u"x");
        info.fMask = mask;
        EXPECT_FALSE(ShellExecuteExW(&info)) << mask;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    }
    SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", u"x");
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    EXPECT_TRUE(ShellExecuteExW(&info));
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_TRUE(AwaitRecord());
}

TEST_F(ProcessLaunch, TheWorkingFolderIsTheGivenDevicePath) {
    SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", u"x");
    info.lpDirectory = u"\\ipsm\\application data";
    ASSERT_TRUE(ShellExecuteExW(&info));
    const std::optional<std::string> record = AwaitRecord();
    ASSERT_TRUE(record);
    const std::string folder =
        std::filesystem::canonical(device::HostPath(u"\\IPSM\\Application Data")).string();
    EXPECT_NE(record->find("cwd=" + folder + "\n"), std::string::npos) << *record;

    info.lpDirectory = u"\\Nowhere";
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(ProcessLaunch, TheObserverSeesEveryAttemptBeforeItStarts) {
    std::vector<std::pair<std::u16string, std::u16string>> seen;
    bool recordExistedWhenObserved = false;
    platform::SetLaunchObserver([&](std::u16string_view file, std::u16string_view parameters) {
        seen.emplace_back(file, parameters);
        if (seen.size() == 1)
            recordExistedWhenObserved = std::filesystem::exists(Record());
    });
    SHELLEXECUTEINFOW info = Info(u"\\Windows\\recorder.exe", u"\\Windows\\Alarm1.mid");
    ASSERT_TRUE(ShellExecuteExW(&info));
    ASSERT_TRUE(AwaitRecord());
    SHELLEXECUTEINFOW missing = Info(u"\\Windows\\absent.exe", nullptr);
    EXPECT_FALSE(ShellExecuteExW(&missing));

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, u"\\Windows\\recorder.exe");
    EXPECT_EQ(seen[0].second, u"\\Windows\\Alarm1.mid");
    EXPECT_EQ(seen[1].first, u"\\Windows\\absent.exe");
    EXPECT_EQ(seen[1].second, u"");
    EXPECT_FALSE(recordExistedWhenObserved);

    platform::SetLaunchObserver(nullptr);
    EXPECT_FALSE(ShellExecuteExW(&missing));
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(ProcessLaunch, TheProgramDoesNotHoldTheCallersMutex) {
    // Waits for a go-ahead file before it records, so it is surely running meanwhile.
    WriteFile(device::HostPath(u"\\Windows\\waiter.exe"),
              "#!/bin/sh\n: > \"$TAVONNE_DEVICE/started\"\n"
              "i=0; while [ ! -e \"$TAVONNE_DEVICE/go\" ] && [ $i -lt 400 ]; do sleep 0.05; "
              "i=$((i+1)); done\n: > \"$TAVONNE_DEVICE/record\"\n",
              0755);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"QUILM_TAVONNE");
    ASSERT_NE(mutex, nullptr);
    SHELLEXECUTEINFOW info = Info(u"\\Windows\\waiter.exe", nullptr);
    ASSERT_TRUE(ShellExecuteExW(&info));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(device::Folder() / "started") &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(std::filesystem::exists(device::Folder() / "started"));
    ASSERT_TRUE(CloseHandle(mutex));

    HANDLE again = CreateMutexW(nullptr, FALSE, u"QUILM_TAVONNE");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    WriteFile(device::Folder() / "go", "", 0644);
    EXPECT_TRUE(AwaitRecord());
}

}  // namespace
