// Playing on Linux: in a child process of its own, so that the caller gets its answer as soon as
// the first sound is written; one tone at a time on a device, a new one stopping the one before.
// With TAVONNE_AUDIO_OUT naming a file, the tone is written there as WAV, in this process, before
// the answer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "device/device_folder.h"
#include "programs/player/player.h"
#include "programs/sound/sound.h"

namespace player {

namespace {

namespace fs = std::filesystem;

// "3,5 s": seconds as the phone's French screens write them.
std::string FrenchSeconds(double seconds) {
    char text[32];
    snprintf(text, sizeof text, "%.1f s", seconds);
    if (char* point = strchr(text, '.'))
        *point = ',';
    return text;
}

volatile sig_atomic_t stopRequested = 0;

void OnStop(int) {
    stopRequested = 1;
}

bool Stopped() {
    return stopRequested != 0;
}

// One tone at a time on a device: the player that plays holds an exclusive lock on
// run/qhandler.lock, with its process id inside. A new player asks every holder it sees to stop
// until the lock is its own; when several start together, one of them ends up playing.
class PlayerLock {
  public:
    PlayerLock() {
        const fs::path file = device::Folder() / "run" / "qhandler.lock";
        std::error_code error;
        fs::create_directories(file.parent_path(), error);
        fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    }
    ~PlayerLock() {
        if (fd_ >= 0)
            close(fd_);
    }
    PlayerLock(const PlayerLock&) = delete;
    PlayerLock& operator=(const PlayerLock&) = delete;

    void Take() {
        if (fd_ < 0)
            return;
        using Clock = std::chrono::steady_clock;
        const auto patience = Clock::now() + std::chrono::seconds(2);
        std::set<pid_t> asked;
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            const pid_t holder = Holder();
            // A player that does not stop when asked is made to.
            const int signal = Clock::now() < patience ? SIGTERM : SIGKILL;
            if (holder > 0 && (signal == SIGKILL || asked.insert(holder).second) &&
                IsPlayer(holder))
                kill(holder, signal);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const std::string pid = std::to_string(getpid());
        if (ftruncate(fd_, 0) != 0 || pwrite(fd_, pid.data(), pid.size(), 0) < 0)
            return;  // the next player then waits for this one's tone to end
    }

  private:
    pid_t Holder() const {
        char text[16] = {};
        const ssize_t size = pread(fd_, text, sizeof text - 1, 0);
        return size > 0 ? static_cast<pid_t>(atoi(text)) : 0;
    }

    // The same program as this one: a process id reused by another program is left alone.
    static bool IsPlayer(pid_t pid) {
        struct stat mine, theirs;
        const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
        return pid != getpid() && stat("/proc/self/exe", &mine) == 0 &&
               stat(exe.c_str(), &theirs) == 0 && mine.st_dev == theirs.st_dev &&
               mine.st_ino == theirs.st_ino;
    }

    int fd_ = -1;
};

// Plays in this process. `report`, when not -1, gets the exit code as one byte as soon as it is
// known: when the first sound is written, or on failure.
int PlayHere(const std::string& said, const std::string& name, std::span<const unsigned char> bytes,
             const device::ToneInfo& info, int report) {
    const auto answer = [report](ExitCode code) {
        if (report >= 0) {
            const unsigned char byte = code;
            ssize_t written = write(report, &byte, 1);
            (void)written;
            close(report);
        }
        return code;
    };
    struct sigaction action {};
    action.sa_handler = OnStop;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);

    PlayerLock lock;
    lock.Take();
    sound::Result result;
    std::unique_ptr<sound::Tone> tone = sound::OpenTone(bytes, info, result);
    std::unique_ptr<sound::Output> output;
    if (tone)
        output = sound::OpenOutput(tone->Rate(), tone->Channels(), Stopped, result);
    if (!tone || !output) {
        Log(said + device::DescribeTone(info) + "; " + result.problem);
        const bool noOutput = result.failure == sound::Failure::NoOutput;
        Tell(StatusLine("", name,
                        noOutput ? " : pas de sortie audio" : " : pas un fichier de sonnerie"));
        return answer(noOutput ? kNoOutput : kNotATone);
    }
    bool started = false;
    result = sound::Play(*tone, *output, {}, Stopped, [&] {
        started = true;
        Log(said + device::DescribeTone(info));
        Tell(StatusLine("\u266A ", name, ", " + FrenchSeconds(info.seconds)));
        answer(kPlayable);
    });
    if (result.failure == sound::Failure::None)
        return kPlayable;
    if (!started) {
        Log(said + device::DescribeTone(info) + "; " + result.problem);
        Tell(StatusLine("", name, " : pas de sortie audio"));
        return answer(kNoOutput);
    }
    Log("qhandler: " + result.problem);
    return kNoOutput;
}

}  // namespace

void Tell(const std::string& line) {
    device::WriteStatus(line);
}

// Plays in a child process that outlives this one, and answers with its result as soon as it
// is known. A file output is written here, whole, before the answer.
int PlayAloud(const std::string& said, const std::string& name,
              std::span<const unsigned char> bytes, const device::ToneInfo& info) {
    int answer[2];
    if (sound::WritesToFile() || pipe2(answer, O_CLOEXEC) != 0)
        return PlayHere(said, name, bytes, info, -1);
    const pid_t child = fork();
    if (child < 0) {
        close(answer[0]);
        close(answer[1]);
        return PlayHere(said, name, bytes, info, -1);
    }
    if (child == 0) {
        close(answer[0]);
        setsid();
        _exit(PlayHere(said, name, bytes, info, answer[1]));
    }
    close(answer[1]);
    unsigned char code = kNoOutput;
    pollfd wait{answer[0], POLLIN, 0};
    // A player that says nothing for this long is left to itself.
    if (poll(&wait, 1, 10000) <= 0 || read(answer[0], &code, 1) != 1)
        code = kNoOutput;
    close(answer[0]);
    return code;
}

}  // namespace player
