// Playing on Linux. One player per device plays, and stays a while after its tone so that the
// next "Jouer" finds the synthesizer loaded and costs little: each launch of the player hands
// its checked tone to that resident player through run/qhandler.sock and ends with its answer.
// A launch that finds no resident player becomes one, in a child process that outlives the
// launch. The resident player plays the newest launch it has been handed (launches are ordered by
// when the kernel started them), so the last "Jouer" wins whatever order the launches arrive in.
// With TAVONNE_AUDIO_OUT naming a file, the tone is written there as WAV and the launch answers
// once the file is whole.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <compare>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/beneath.h"
#include "device/device_folder.h"
#include "device/paths.h"
#include "device/phone_files.h"
#include "programs/player/player.h"
#include "programs/sound/sound.h"

extern char** environ;

namespace player {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kLockName = "qhandler.lock";
constexpr const char* kSocketName = "qhandler.sock";
// How long a player stays after its tone, for the next "Jouer".
constexpr auto kLinger = std::chrono::seconds(10);
// How long a launch tries to reach a player before it gives up.
constexpr auto kPatience = std::chrono::seconds(3);
// How long a launch waits for a tone to start on an audio output.
constexpr int kAnswerMilliseconds = 10000;
// Besides the exit codes, a resident player may answer that it is leaving: the launch then
// starts a player of its own.
constexpr unsigned char kLeaving = 100;
// A request holds at most a tone and a few lines.
constexpr uint32_t kLargestText = 1 << 16;

volatile sig_atomic_t stopRequested = 0;

void OnStop(int) {
    stopRequested = 1;
}

// When the kernel started a launch (in clock ticks since boot), then its process id: within one
// tick, ids are handed out in the order processes start.
struct Launch {
    uint64_t start = 0;
    int64_t pid = 0;
    auto operator<=>(const Launch&) const = default;
};

Launch ThisLaunch() {
    Launch launch{0, getpid()};
    std::ifstream in("/proc/self/stat");
    std::string stat;
    std::getline(in, stat);
    // "pid (name) state ..." with the start time as field 22; the name may hold anything.
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos)
        return launch;
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number) {
    }
    launch.start = std::strtoull(field.c_str(), nullptr, 10);
    return launch;
}

// What decides where a tone is heard: a resident player serves the launches that agree with it.
std::string OutputKey() {
    std::vector<std::string> parts;
    std::error_code error;
    parts.push_back("cwd=" + fs::current_path(error).string());
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view variable(*entry);
        for (const char* prefix : {"TAVONNE_AUDIO_OUT=", "SDL_", "AUDIODEV=", "PULSE_", "PIPEWIRE_",
                                   "XDG_RUNTIME_DIR=", "ALSA_"}) {
            if (variable.starts_with(prefix))
                parts.emplace_back(variable);
        }
    }
    std::sort(parts.begin(), parts.end());
    std::string key;
    for (const std::string& part : parts)
        key += part + '\n';
    return key;
}

struct Request {
    Launch launch;
    std::string key, said, name;
    std::vector<unsigned char> tone;
};

struct Header {
    uint64_t start;
    int64_t pid;
    uint32_t keySize, saidSize, nameSize;
    uint64_t toneSize;
};

bool SendAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

// False when the other end closed, failed, or said nothing for `milliseconds` (-1: no limit).
bool ReceiveAll(int fd, void* data, size_t size, int milliseconds) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = poll(&ready, 1, milliseconds);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return false;
        const ssize_t got = recv(fd, bytes, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool SendRequest(int fd, const Request& request) {
    const Header header{request.launch.start,
                        request.launch.pid,
                        static_cast<uint32_t>(request.key.size()),
                        static_cast<uint32_t>(request.said.size()),
                        static_cast<uint32_t>(request.name.size()),
                        request.tone.size()};
    return SendAll(fd, &header, sizeof header) &&
           SendAll(fd, request.key.data(), request.key.size()) &&
           SendAll(fd, request.said.data(), request.said.size()) &&
           SendAll(fd, request.name.data(), request.name.size()) &&
           SendAll(fd, request.tone.data(), request.tone.size());
}

// A launch sends its request as soon as it connects; one that stalls is dropped.
std::optional<Request> ReceiveRequest(int fd) {
    constexpr int kMilliseconds = 2000;
    Header header;
    if (!ReceiveAll(fd, &header, sizeof header, kMilliseconds) || header.keySize > kLargestText ||
        header.saidSize > kLargestText || header.nameSize > kLargestText ||
        header.toneSize > device::kLargestToneBytes)
        return std::nullopt;
    Request request;
    request.launch = {header.start, header.pid};
    request.key.resize(header.keySize);
    request.said.resize(header.saidSize);
    request.name.resize(header.nameSize);
    request.tone.resize(header.toneSize);
    if (!ReceiveAll(fd, request.key.data(), request.key.size(), kMilliseconds) ||
        !ReceiveAll(fd, request.said.data(), request.said.size(), kMilliseconds) ||
        !ReceiveAll(fd, request.name.data(), request.name.size(), kMilliseconds) ||
        !ReceiveAll(fd, request.tone.data(), request.tone.size(), kMilliseconds))
        return std::nullopt;
    return request;
}

sockaddr_un SocketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    return address;
}

std::string FolderPath(int folder) {
    return "/proc/self/fd/" + std::to_string(folder);
}

// The resident player's socket, reached without following a link: -1 when none listens.
int Connect(int run) {
    const int found = openat(run, kSocketName, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (found < 0)
        return -1;
    struct stat info;
    int connection = -1;
    if (fstat(found, &info) == 0 && S_ISSOCK(info.st_mode)) {
        connection = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = SocketAddress(FolderPath(found));
        if (connection >= 0 &&
            connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(connection);
            connection = -1;
        }
    }
    close(found);
    return connection;
}

// The lock that the resident player holds while it lives, with its process id inside; -1 when
// it is not a plain file of the device (a link, a folder, a FIFO).
int OpenLock(int run) {
    const int lock =
        openat(run, kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat info;
    if (lock >= 0 && (fstat(lock, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(lock);
        return -1;
    }
    return lock;
}

pid_t Holder(int lock) {
    char text[16] = {};
    const ssize_t size = pread(lock, text, sizeof text - 1, 0);
    return size > 0 ? static_cast<pid_t>(atoi(text)) : 0;
}

// A player (this program, or its copy in a device): a process id that another program reuses,
// or garbage in the lock, is not one.
bool IsPlayer(pid_t pid) {
    if (pid <= 0 || pid == getpid())
        return false;
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    return !error && exe.filename().string().starts_with("qhandler");
}

// The line and the exit code a launch ends with.
struct Answer {
    unsigned char code = kNoOutput;
    std::string line;
};

// The resident player: serves launches until it has been idle for kLinger, is stopped, or its
// socket is no longer its own (the device was removed).
class Resident {
  public:
    Resident(int run, int listening, std::string key)
        : run_(run), listening_(listening), key_(std::move(key)) {
        struct stat info;
        if (fstatat(run_, kSocketName, &info, AT_SYMLINK_NOFOLLOW) == 0)
            socket_ = info.st_ino;
    }

    void Serve() {
        auto idleSince = Clock::now();
        while (!stopRequested && !leaving_) {
            if (next_) {
                Waiting playing = std::move(*next_);
                next_.reset();
                PlayOne(playing.request, playing.connection);
                idleSince = Clock::now();
                continue;
            }
            if (Clock::now() - idleSince >= kLinger || !Reachable())
                break;
            TakeWaiting(1000);
        }
        Leave();
    }

  private:
    struct Waiting {
        Request request;
        int connection;
    };

    bool Reachable() const {
        struct stat info;
        return fstatat(run_, kSocketName, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
               info.st_ino == socket_;
    }

    // No new launch reaches this player from now on.
    void Leave() {
        if (listening_ < 0)
            return;
        if (Reachable())
            unlinkat(run_, kSocketName, 0);
        close(listening_);
        listening_ = -1;
        if (next_)
            Reply(next_->connection, {kLeaving, ""});
        next_.reset();
    }

    static void Reply(int connection, const Answer& answer) {
        if (SendAll(connection, &answer.code, 1))
            SendAll(connection, answer.line.data(), answer.line.size());
        close(connection);
    }

    // Takes the launches waiting on the socket, for up to `milliseconds`: the newest stays as
    // the next to play and every older one is answered at once (a later "Jouer" replaced it).
    void TakeWaiting(int milliseconds) {
        pollfd ready{listening_, POLLIN, 0};
        while (listening_ >= 0 && poll(&ready, 1, milliseconds) > 0) {
            milliseconds = 0;
            const int connection = accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                break;
            std::optional<Request> request = ReceiveRequest(connection);
            if (!request) {
                close(connection);
                continue;
            }
            if (request->launch < newest_) {
                Reply(connection, {kPlayable, ""});
                continue;
            }
            newest_ = request->launch;
            if (next_)
                Reply(next_->connection, {kPlayable, ""});
            next_.reset();
            if (request->key != key_) {
                // Heard elsewhere: this player gives way to one the launch starts.
                Leave();
                leaving_ = true;
                Reply(connection, {kLeaving, ""});
                return;
            }
            next_ = Waiting{std::move(*request), connection};
        }
    }

    bool Stopped() {
        if (!stopRequested && !leaving_)
            TakeWaiting(0);
        return stopRequested || leaving_ || next_.has_value();
    }

    // Plays one launch's tone and answers it: when the first sound is written, or, into a file,
    // once the file is whole. A player without an audio output leaves: the next launch tries
    // afresh.
    void PlayOne(const Request& request, int connection) {
        const device::ToneInfo info = device::InspectTone(request.tone);
        const std::string& said = request.said;
        const std::string& name = request.name;
        const auto stopped = [this] { return Stopped(); };
        const bool toFile = sound::WritesToFile();
        const std::string line = said + device::DescribeTone(info);
        Answer answer{kPlayable, line};
        bool answered = false;
        {
            sound::Result result;
            std::unique_ptr<sound::Tone> tone = sound::OpenTone(request.tone, info, result);
            std::unique_ptr<sound::Output> output;
            if (tone)
                output = sound::OpenOutput(tone->Rate(), tone->Channels(), stopped, result);
            if (!tone || !output) {
                const bool noOutput = result.failure == sound::Failure::NoOutput;
                answer = {static_cast<unsigned char>(noOutput ? kNoOutput : kNotATone),
                          line + "; " + result.problem};
                Log(answer.line);
                Tell("", name,
                     noOutput ? " : pas de sortie audio" : " : pas un fichier de sonnerie");
            } else {
                bool started = false;
                result = sound::Play(*tone, *output, {}, stopped, [&] {
                    started = true;
                    Log(answer.line);
                    Tell("\u266A ", name, ", " + FrenchSeconds(info.seconds));
                    if (!toFile) {
                        Reply(connection, answer);
                        answered = true;
                    }
                });
                // A tone stopped before its first sound (a later "Jouer") says nothing.
                if (!started)
                    answer.line.clear();
                if (result.failure != sound::Failure::None) {
                    if (started) {
                        Log("qhandler: " + result.problem);
                    } else {
                        answer = {kNoOutput, line + "; " + result.problem};
                        Log(answer.line);
                        Tell("", name, " : pas de sortie audio");
                    }
                }
            }
        }
        if (answer.code == kNoOutput) {
            Leave();
            leaving_ = true;
            // Closed as the process ends, so that the launch ends after this player.
            if (!answered && SendAll(connection, &answer.code, 1))
                SendAll(connection, answer.line.data(), answer.line.size());
            return;
        }
        if (!answered)
            Reply(connection, answer);
    }

    int run_;
    int listening_;
    std::string key_;
    ino_t socket_ = 0;
    Launch newest_;
    std::optional<Waiting> next_;
    bool leaving_ = false;
};

// Makes this launch's child the device's resident player, listening before the launch goes on;
// false when the socket cannot be made. `lock` is held.
bool StartResident(int run, int lock, const std::string& key) {
    // While the lock is held no player listens: whatever lies at the socket's name is left over.
    unlinkat(run, kSocketName, 0);
    const int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = SocketAddress(FolderPath(run) + "/" + kSocketName);
    if (listening < 0 ||
        bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listening, SOMAXCONN) != 0) {
        if (listening >= 0)
            close(listening);
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        // The player outlives whoever started this launch: it keeps none of their streams.
        const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
        for (int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
            dup2(nothing, stream);
        struct sigaction action {};
        action.sa_handler = OnStop;
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            sigaction(signal, &action, nullptr);
        const std::string pid = std::to_string(getpid());
        // Without its id, a launch that finds no socket would take this player for a stranger.
        if (ftruncate(lock, 0) != 0 || pwrite(lock, pid.data(), pid.size(), 0) < 0)
            Log("qhandler: cannot write the player's lock");
        Resident(run, listening, key).Serve();
        _exit(0);
    }
    close(listening);
    return child > 0;
}

// Sends the request and waits for the answer; nothing when the player left without one.
std::optional<Answer> Exchange(int connection, const Request& request) {
    if (!SendRequest(connection, request))
        return std::nullopt;
    Answer answer;
    const int milliseconds = sound::WritesToFile() ? -1 : kAnswerMilliseconds;
    if (!ReceiveAll(connection, &answer.code, 1, milliseconds))
        return std::nullopt;
    // The rest of the answer, up to the player closing its end.
    char buffer[512];
    for (ssize_t got; (got = recv(connection, buffer, sizeof buffer, 0)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        answer.line.append(buffer, static_cast<size_t>(got));
    }
    return answer;
}

}  // namespace

// Hands the tone to the device's resident player, starting one when none answers, and returns
// with its answer. The player reads the tone's bytes, not its file.
int PlayAloud(const std::string& said, const std::string& name, const std::filesystem::path&,
              std::span<const unsigned char> bytes, const device::ToneInfo& info) {
    const Request request{ThisLaunch(), OutputKey(), said, name, {bytes.begin(), bytes.end()}};
    const auto fail = [&](const std::string& why) {
        Log(said + device::DescribeTone(info) + "; " + why);
        Tell("", name, " : pas de sortie audio");
        return kNoOutput;
    };
    // The device's run/ folder, made when missing, never through a link.
    const int run = device::OpenFolderBeneath(device::Folder(), "run", true).Release();
    if (run < 0)
        return fail("the device's run folder cannot be used");
    const auto patience = Clock::now() + kPatience;
    int strangerLooks = 0;
    std::string why = "the player does not answer";
    while (Clock::now() < patience) {
        if (const int connection = Connect(run); connection >= 0) {
            const std::optional<Answer> answer = Exchange(connection, request);
            close(connection);
            if (answer && answer->code != kLeaving) {
                // Someone running the player by hand sees its line too.
                if (!answer->line.empty() && isatty(STDERR_FILENO))
                    fprintf(stderr, "%s\n", device::EscapedName(answer->line).c_str());
                close(run);
                return answer->code;
            }
            continue;
        }
        const int lock = OpenLock(run);
        if (lock < 0) {
            why = "the player's lock (run/qhandler.lock) is not a plain file";
            break;
        }
        if (flock(lock, LOCK_EX | LOCK_NB) == 0) {
            const bool started = StartResident(run, lock, request.key);
            close(lock);
            if (!started) {
                why = "the player's socket (run/qhandler.sock) cannot be made";
                break;
            }
            continue;
        }
        // Held while nobody listens: a player of this device starts or leaves, or another
        // program holds the lock (seen twice, so that a player writing its id is not taken for
        // one).
        strangerLooks = IsPlayer(Holder(lock)) ? 0 : strangerLooks + 1;
        close(lock);
        if (strangerLooks >= 3) {
            why = "the player's lock (run/qhandler.lock) is held by another program";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(run);
    return fail(why);
}

}  // namespace player
