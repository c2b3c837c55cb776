// The peer channel between two processes of one device: finding a window, bringing it forward.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/device_folder.h"
#include "platform/phone/peer.h"
#include "platform/testing/testing.h"
#include "support/pipe.h"
#include "support/temp_device.h"

namespace {

constexpr uint64_t kMainWindow = 0x1234;
const std::u16string kOddTitle = u"Ligne 1\nLigne \\2\r é \\n";

// A process of the same device that listens as the running copy would: it has the window
// "Tavonne" and one with an odd title, reports each window it brings forward on `report`, and
// answers until `stop` closes (or never answers at all when `answer` is false).
class RunningCopy {
  public:
    // `busyFor` keeps it from answering for a while after it listens, as a copy busy drawing.
    explicit RunningCopy(bool answer = true, std::chrono::milliseconds busyFor = {}) {
        pid_ = fork();
        if (pid_ != 0)
            return;
        ready_.CloseRead();
        stop_.CloseWrite();
        report_.CloseRead();
        const bool listening = peer::Listen(
            [](std::u16string_view title) -> std::optional<uint64_t> {
                if (title == u"Tavonne")
                    return kMainWindow;
                if (title == kOddTitle)
                    return 7;
                return std::nullopt;
            },
            [this](uint64_t id) {
                if (id != kMainWindow)
                    return false;
                const std::string line = "FOREGROUND " + std::to_string(id) + "\n";
                (void)!write(report_.Write(), line.data(), line.size());
                return true;
            });
        const char ready = listening ? 'L' : 'F';
        (void)!write(ready_.Write(), &ready, 1);
        std::this_thread::sleep_for(busyFor);
        for (;;) {
            pollfd fds[2] = {{stop_.Read(), POLLIN, 0}, {peer::ListenFd(), POLLIN, 0}};
            poll(fds, answer ? 2 : 1, -1);
            if (fds[0].revents != 0)
                _exit(0);
            if ((fds[1].revents & POLLIN) != 0)
                peer::HandlePending();
        }
    }
    ~RunningCopy() { Stop(); }

    void Stop() {
        if (pid_ <= 0)
            return;
        stop_.CloseWrite();
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

    // Whether the copy listens, once it has tried.
    bool Listening() {
        ready_.CloseWrite();
        char ready = 0;
        return read(ready_.Read(), &ready, 1) == 1 && ready == 'L';
    }
    // What the copy reported, once it has ended.
    std::string Reports() {
        Stop();
        report_.CloseWrite();
        std::string all;
        char buffer[256];
        for (ssize_t got; (got = read(report_.Read(), buffer, sizeof buffer)) > 0;)
            all.append(buffer, static_cast<size_t>(got));
        return all;
    }
    void Kill() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

  private:
    pid_t pid_ = 0;
    Pipe ready_, stop_, report_;
};

using ProcessPeer = DeviceTest;

TEST_F(ProcessPeer, FindsAndBringsForwardTheWindowOfTheRunningCopy) {
    RunningCopy running;
    ASSERT_TRUE(running.Listening());

    EXPECT_EQ(peer::FindRemote(u"Tavonne"), kMainWindow);
    EXPECT_EQ(peer::FindRemote(kOddTitle), 7u);
    EXPECT_EQ(peer::FindRemote(u"tavonne"), std::nullopt);
    EXPECT_EQ(peer::FindRemote(u""), std::nullopt);

    EXPECT_TRUE(peer::ForegroundRemote(kMainWindow));
    EXPECT_FALSE(peer::ForegroundRemote(7));
    EXPECT_EQ(running.Reports(), "FOREGROUND 4660\n");
}

// Many copies at once, more than a short queue of connections holds, all reach the running
// copy even while it is busy: a full queue means "try again", not "nobody there".
TEST_F(ProcessPeer, EveryOneOfManyCopiesAtOnceReachesABusyRunningCopy) {
    RunningCopy running(true, std::chrono::milliseconds(300));
    ASSERT_TRUE(running.Listening());
    std::vector<pid_t> copies;
    for (int i = 0; i < 50; ++i) {
        const pid_t copy = fork();
        if (copy == 0)
            _exit(peer::FindRemote(u"Tavonne") == kMainWindow ? 0 : 1);
        copies.push_back(copy);
    }
    int reached = 0;
    for (pid_t copy : copies) {
        int status = 0;
        waitpid(copy, &status, 0);
        reached += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
    }
    EXPECT_EQ(reached, 50);
}

// A process of another user of the machine (nobody) that tries `act`, then stays, holding what it
// got, until the end of the test.
class Stranger {
  public:
    explicit Stranger(const std::function<bool()>& act) {
        pid_ = fork();
        if (pid_ == 0) {
            tried_.CloseRead();
            const char answer = setgid(65534) == 0 && setuid(65534) == 0 && act() ? 'Y' : 'N';
            (void)!write(tried_.Write(), &answer, 1);
            pause();
            _exit(0);
        }
        tried_.CloseWrite();
    }
    ~Stranger() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    // Whether it did what it tried.
    bool Did() {
        char answer = 0;
        return read(tried_.Read(), &answer, 1) == 1 && answer == 'Y';
    }

  private:
    pid_t pid_ = 0;
    Pipe tried_;
};

// Another user of the machine cannot take the channel's name before the running copy does: the
// name lies in the device folder, where only its owner makes files.
TEST_F(ProcessPeer, AnotherUserCannotTakeTheChannelsName) {
    if (getuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    std::filesystem::create_directories(device.Folder() / "run");
    Stranger squatter([] { return peer::Listen([](std::u16string_view) { return 1; }, nullptr); });
    EXPECT_FALSE(squatter.Did());

    RunningCopy running;
    EXPECT_TRUE(running.Listening());
    EXPECT_EQ(peer::FindRemote(u"Tavonne"), kMainWindow);
}

// Every user sees the name a copy listens on (the machine lists its sockets), and may take it
// once that copy has ended: the next copy still listens, under a new name, and a copy asking
// reaches it, never the stranger.
TEST_F(ProcessPeer, AnotherUserHoldingAnEndedCopysNameIsPassedBy) {
    if (getuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    RunningCopy ended;
    ASSERT_TRUE(ended.Listening());
    ended.Kill();
    std::string name;
    std::getline(std::ifstream(device.Folder() / "run" / "peer.lock"), name);
    ASSERT_FALSE(name.empty());
    Stranger stranger([&name] {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(name.begin(), name.end(), address.sun_path + 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        return bind(fd, reinterpret_cast<sockaddr*>(&address),
                    static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) ==
                   0 &&
               listen(fd, 16) == 0;
    });
    ASSERT_TRUE(stranger.Did());

    RunningCopy next;
    EXPECT_TRUE(next.Listening());
    EXPECT_EQ(peer::FindRemote(u"Tavonne"), kMainWindow);
}

TEST_F(ProcessPeer, WithoutARunningCopyNothingIsFound) {
    EXPECT_EQ(peer::FindRemote(u"Tavonne"), std::nullopt);
    EXPECT_FALSE(peer::ForegroundRemote(kMainWindow));
}

TEST_F(ProcessPeer, ACrashedCopyDoesNotBlockTheNextStart) {
    RunningCopy crashed;
    ASSERT_TRUE(crashed.Listening());
    crashed.Kill();

    EXPECT_EQ(peer::FindRemote(u"Tavonne"), std::nullopt);
    EXPECT_TRUE(peer::Listen([](std::u16string_view) { return std::nullopt; },
                             [](uint64_t) { return false; }));
    EXPECT_GE(peer::ListenFd(), 0);
}

TEST_F(ProcessPeer, ACopyThatNeverAnswersDoesNotHangTheCaller) {
    RunningCopy hung(false);
    ASSERT_TRUE(hung.Listening());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(peer::FindRemote(u"Tavonne"), std::nullopt);
    EXPECT_FALSE(peer::ForegroundRemote(kMainWindow));
    // Generous: the bound is about never hanging, not about speed.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(ProcessPeer, OnlyOneCopyPerDeviceListensAndDevicesAreApart) {
    RunningCopy running;
    ASSERT_TRUE(running.Listening());
    EXPECT_FALSE(peer::Listen(nullptr, nullptr));
    EXPECT_EQ(peer::ListenFd(), -1);

    TempDevice other;
    EXPECT_EQ(peer::FindRemote(u"Tavonne"), std::nullopt);
    EXPECT_TRUE(peer::Listen(nullptr, nullptr));
}

TEST_F(ProcessPeer, TheListenerItselfLooksOnlyAtItsOwnWindows) {
    bool asked = false;
    ASSERT_TRUE(peer::Listen(
        [&asked](std::u16string_view) -> std::optional<uint64_t> {
            asked = true;
            return 1;
        },
        nullptr));
    EXPECT_EQ(peer::FindRemote(u"Tavonne"), std::nullopt);
    peer::HandlePending();
    EXPECT_FALSE(asked);
}

TEST_F(ProcessPeer, ListeningStopsWithTheResetAndInAForkedChild) {
    ASSERT_TRUE(peer::Listen(nullptr, nullptr));
    const pid_t child = fork();
    if (child == 0)
        _exit(peer::ListenFd() == -1 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GE(peer::ListenFd(), 0);

    platform::ResetProcessesForTesting();
    EXPECT_EQ(peer::ListenFd(), -1);
    RunningCopy next;
    EXPECT_TRUE(next.Listening());
}

}  // namespace
