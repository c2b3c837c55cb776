// Named mutexes across processes and device folders, and the checking of handles.
#include <windows.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/device_folder.h"
#include "platform/testing/process.h"
#include "base/text.h"
#include "support/pipe.h"
#include "support/temp_device.h"

namespace {

constexpr LPCWSTR kName = u"QUILM_TAVONNE";

// What CreateMutexW told a process, as an exit code.
enum Outcome { kCreated = 0, kExisted = 1, kNoHandle = 2, kOtherError = 3 };

int Create(LPCWSTR name) {
    SetLastError(12345);
    HANDLE handle = CreateMutexW(nullptr, FALSE, name);
    if (handle == nullptr)
        return kNoHandle;
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS          ? kCreated
           : error == ERROR_ALREADY_EXISTS ? kExisted
                                           : kOtherError;
}

// Runs `body` in a forked child and returns its exit code.
int InChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// What a fresh process creating the name in the current device folder is told.
int CreateInOtherProcess(LPCWSTR name) {
    return InChild([name] { return Create(name); });
}

using ProcessMutex = DeviceTest;

TEST_F(ProcessMutex, FirstCreatorSucceedsAndOtherProcessesSeeItExist) {
    SetLastError(12345);
    HANDLE handle = CreateMutexW(nullptr, FALSE, kName);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

    EXPECT_EQ(CreateInOtherProcess(kName), kExisted);
    EXPECT_EQ(CreateInOtherProcess(u"QUILM_AUTRE"), kCreated);

    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(CreateInOtherProcess(kName), kCreated);
}

TEST_F(ProcessMutex, SameProcessTwiceSeesItExistUntilTheLastHandleCloses) {
    HANDLE first = CreateMutexW(nullptr, TRUE, kName);
    ASSERT_NE(first, nullptr);
    HANDLE second = CreateMutexW(nullptr, FALSE, kName);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(first, second);

    EXPECT_TRUE(CloseHandle(first));
    EXPECT_EQ(CreateInOtherProcess(kName), kExisted);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(CreateInOtherProcess(kName), kCreated);
    EXPECT_EQ(Create(kName), kCreated);
}

TEST_F(ProcessMutex, AnOpenerThatFoundItExistingAlsoKeepsTheNameAlive) {
    HANDLE mine = CreateMutexW(nullptr, FALSE, kName);
    ASSERT_NE(mine, nullptr);
    Pipe ready, finish;
    const pid_t holder = fork();
    if (holder == 0) {
        ready.CloseRead();
        finish.CloseWrite();
        const char outcome = static_cast<char>(Create(kName));
        (void)!write(ready.Write(), &outcome, 1);
        char ignored;
        (void)!read(finish.Read(), &ignored, 1);
        _exit(0);
    }
    ready.CloseWrite();
    finish.CloseRead();
    char outcome = -1;
    ASSERT_EQ(read(ready.Read(), &outcome, 1), 1);
    EXPECT_EQ(outcome, kExisted);

    // As on Windows, the object lives while any process has a handle on it.
    EXPECT_TRUE(CloseHandle(mine));
    EXPECT_EQ(CreateInOtherProcess(kName), kExisted);
    finish.CloseWrite();
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_EQ(CreateInOtherProcess(kName), kCreated);
}

TEST_F(ProcessMutex, AHolderKilledBySigkillReleasesTheName) {
    Pipe ready;
    const pid_t holder = fork();
    if (holder == 0) {
        ready.CloseRead();
        const char outcome = static_cast<char>(Create(kName));
        (void)!write(ready.Write(), &outcome, 1);
        for (;;)
            pause();
    }
    ready.CloseWrite();
    char outcome = -1;
    ASSERT_EQ(read(ready.Read(), &outcome, 1), 1);
    EXPECT_EQ(outcome, kCreated);
    EXPECT_EQ(Create(kName), kExisted);
    platform::CloseAllMutexesForTesting();

    ASSERT_EQ(kill(holder, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_EQ(Create(kName), kCreated);
}

TEST_F(ProcessMutex, TwoDeviceFoldersAreTwoPhones) {
    const std::filesystem::path first = device.Folder();
    HANDLE onFirst = CreateMutexW(nullptr, FALSE, kName);
    ASSERT_NE(onFirst, nullptr);

    TempDevice second;
    EXPECT_EQ(Create(kName), kCreated);
    EXPECT_EQ(CreateInOtherProcess(kName), kExisted);
    const int onFirstFromChild = InChild([&first] {
        setenv("TAVONNE_DEVICE", first.c_str(), 1);
        device::ResetForTesting();
        return Create(kName);
    });
    EXPECT_EQ(onFirstFromChild, kExisted);
}

TEST_F(ProcessMutex, RacingStartsLeaveExactlyOneOwner) {
    constexpr int kChildren = 8;
    for (int round = 0; round < 4; ++round) {
        const std::u16string name = u"QUILM_RACE_" + std::u16string(1, u'0' + round);
        Pipe go, results, finish;
        std::vector<pid_t> children;
        for (int i = 0; i < kChildren; ++i) {
            const pid_t child = fork();
            if (child == 0) {
                go.CloseWrite();
                results.CloseRead();
                finish.CloseWrite();
                char byte;
                (void)!read(go.Read(), &byte, 1);  // all start when the parent closes it
                const char outcome = static_cast<char>(Create(name.c_str()));
                (void)!write(results.Write(), &outcome, 1);
                (void)!read(finish.Read(), &byte, 1);  // hold it until all have answered
                _exit(0);
            }
            ASSERT_GT(child, 0);
            children.push_back(child);
        }
        go.CloseWrite();
        results.CloseWrite();
        int created = 0, existed = 0;
        char outcome;
        for (int i = 0; i < kChildren && read(results.Read(), &outcome, 1) == 1; ++i) {
            created += outcome == kCreated;
            existed += outcome == kExisted;
        }
        finish.CloseWrite();
        for (pid_t child : children)
            waitpid(child, nullptr, 0);
        EXPECT_EQ(created, 1) << "round " << round;
        EXPECT_EQ(existed, kChildren - 1) << "round " << round;
    }
}

TEST_F(ProcessMutex, AForkedChildDoesNotKeepTheParentsName) {
    HANDLE handle = CreateMutexW(nullptr, FALSE, kName);
    ASSERT_NE(handle, nullptr);
    Pipe ready, finish;
    const pid_t child = fork();
    if (child == 0) {
        ready.CloseRead();
        finish.CloseWrite();
        // The parent's handle is not the child's.
        const char inherited = CloseHandle(handle) != FALSE ? 1 : 0;
        (void)!write(ready.Write(), &inherited, 1);
        char byte;
        (void)!read(finish.Read(), &byte, 1);
        _exit(0);
    }
    ready.CloseWrite();
    finish.CloseRead();
    char inherited = -1;
    ASSERT_EQ(read(ready.Read(), &inherited, 1), 1);
    EXPECT_EQ(inherited, 0);
    // With the parent's handle closed, the still running child holds nothing.
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(CreateInOtherProcess(kName), kCreated);
    finish.CloseWrite();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
}

TEST_F(ProcessMutex, StaleAndMadeUpHandlesAreRefused) {
    HANDLE handle = CreateMutexW(nullptr, FALSE, kName);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(CloseHandle(handle));

    HANDLE next = CreateMutexW(nullptr, FALSE, kName);
    ASSERT_NE(next, nullptr);
    for (HANDLE bad :
         {handle, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE,
          reinterpret_cast<HANDLE>(0x12345), reinterpret_cast<HANDLE>(~uintptr_t{7})}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(CloseHandle(bad)) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << bad;
    }
    // The refusals left the live handle alone.
    EXPECT_EQ(CreateInOtherProcess(kName), kExisted);
    EXPECT_TRUE(CloseHandle(next));
    EXPECT_FALSE(CloseHandle(next));
}

TEST_F(ProcessMutex, UnnamedMutexesAreAlwaysNew) {
    HANDLE first = CreateMutexW(nullptr, FALSE, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE second = CreateMutexW(nullptr, FALSE, u"");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
}

TEST_F(ProcessMutex, NamesStayInsideTheRunFolderAndNeverShareALock) {
    const std::vector<std::u16string> names = {u"../../escape",
                                               u"..",
                                               u".",
                                               u"a/b",
                                               u"a%002Fb",
                                               u"A/B",
                                               u"/tmp/x",
                                               u"\\Windows\\x",
                                               u"Sonnerie é",
                                               u"Sonnerie e",
                                               u"nul\u0001",
                                               std::u16string(MAX_PATH, u'/'),
                                               std::u16string(MAX_PATH - 1, u'x') + u"1",
                                               std::u16string(MAX_PATH - 1, u'x') + u"2"};
    for (const std::u16string& name : names)
        EXPECT_EQ(Create(name.c_str()), kCreated) << text::ToUtf8(name);

    std::error_code error;
    const std::filesystem::path run = device.Folder() / "run";
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(device.Folder().parent_path(), error)) {
        const std::string path = entry.path().string();
        EXPECT_TRUE(path.starts_with(run.string()) || entry.path() == device.Folder()) << path;
    }
    EXPECT_FALSE(error) << error.message();
}

TEST_F(ProcessMutex, OverlongNamesAreRefused) {
    const std::u16string name(MAX_PATH + 1, u'x');
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateMutexW(nullptr, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(ProcessMutex, ResetClosesEveryHandleOfThisProcess) {
    HANDLE handle = CreateMutexW(nullptr, FALSE, kName);
    ASSERT_NE(handle, nullptr);
    platform::ResetProcessesForTesting();
    EXPECT_EQ(CreateInOtherProcess(kName), kCreated);
    EXPECT_FALSE(CloseHandle(handle));
}

}  // namespace
