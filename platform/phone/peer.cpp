// The peer channel: a per-device Unix-domain socket with a one-line request and a one-line answer.
#include "platform/phone/peer.h"

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "device/device_folder.h"
#include "base/text.h"

namespace peer {

namespace {

// How long a client waits for the whole answer, and a listener for the whole request.
constexpr std::chrono::milliseconds kAnswerTimeout{500};
constexpr std::chrono::milliseconds kRequestTimeout{100};
constexpr size_t kMaxLine = 4096;

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    ~UniqueFd() { Reset(); }
    int Get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

struct Listener {
    UniqueFd fd;
    FindFunction find;
    ForegroundFunction foreground;
};

Listener listener;

// A forked child does not answer for its parent.
void StopInChild() {
    listener = Listener();
}

// The channel's address: a name in the abstract namespace (no file that a crash could leave
// behind, no path length limit), made from a hash of the device folder's canonical path, so two
// spellings of one folder meet and two folders are two phones.
struct Address {
    sockaddr_un address{};
    socklen_t length = 0;
};

Address DeviceAddress() {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::weakly_canonical(device::Folder(), error);
    if (error)
        folder = device::Folder();
    uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
    for (unsigned char c : folder.native()) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    char name[64];
    const int length =
        snprintf(name, sizeof name, "tavonne-peer-%016llx", static_cast<unsigned long long>(hash));
    Address result;
    result.address.sun_family = AF_UNIX;
    // sun_path[0] stays '\0': the abstract namespace.
    std::copy(name, name + length, result.address.sun_path + 1);
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    return result;
}

// Only processes of this user speak on the channel.
bool SameUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == getuid();
}

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads one line (without its '\n') before the deadline.
bool ReadLine(int fd, Clock::time_point deadline, std::string& line) {
    line.clear();
    for (;;) {
        pollfd request{fd, POLLIN, 0};
        const int ready = poll(&request, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[512];
        const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        line.append(buffer, static_cast<size_t>(got));
        if (const size_t end = line.find('\n'); end != std::string::npos) {
            line.resize(end);
            return true;
        }
        if (line.size() > kMaxLine)
            return false;
    }
}

bool WriteAll(int fd, std::string_view data, Clock::time_point deadline) {
    while (!data.empty()) {
        const ssize_t sent = send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            data.remove_prefix(static_cast<size_t>(sent));
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return false;
        pollfd request{fd, POLLOUT, 0};
        if (poll(&request, 1, MillisecondsLeft(deadline)) <= 0)
            return false;
    }
    return true;
}

// Titles travel as UTF-8 with '\\', '\n' and '\r' escaped, so any title fits on one line.
std::string EscapeTitle(std::u16string_view title) {
    std::string escaped;
    for (char c : text::ToUtf8(title)) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

std::optional<std::u16string> UnescapeTitle(std::string_view escaped) {
    std::string utf8;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            utf8 += escaped[i];
            continue;
        }
        if (++i == escaped.size())
            return std::nullopt;
        switch (escaped[i]) {
            case '\\':
                utf8 += '\\';
                break;
            case 'n':
                utf8 += '\n';
                break;
            case 'r':
                utf8 += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return text::FromUtf8(utf8);
}

std::optional<uint64_t> ParseId(std::string_view digits) {
    uint64_t id = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty())
        return std::nullopt;
    return id;
}

std::string Answer(std::string_view request) {
    if (request.starts_with("FIND ")) {
        const std::optional<std::u16string> title = UnescapeTitle(request.substr(5));
        // Copied: the function may stop or replace the listener while it runs.
        const FindFunction find = listener.find;
        if (!title || !find)
            return "NONE";
        const std::optional<uint64_t> id = find(*title);
        return id ? std::to_string(*id) : "NONE";
    }
    if (request.starts_with("FOREGROUND ")) {
        const std::optional<uint64_t> id = ParseId(request.substr(11));
        const ForegroundFunction foreground = listener.foreground;
        return id && foreground && foreground(*id) ? "OK" : "NO";
    }
    return "ERROR";
}

void Serve(int connection) {
    if (!SameUser(connection))
        return;
    std::string request;
    if (!ReadLine(connection, Clock::now() + kRequestTimeout, request))
        return;
    WriteAll(connection, Answer(request) + "\n", Clock::now() + kRequestTimeout);
}

// Sends one request to the device's listener and returns its answer line.
std::optional<std::string> Ask(const std::string& request) {
    if (listener.fd.Get() >= 0)
        return std::nullopt;
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0)
        return std::nullopt;
    const Address address = DeviceAddress();
    // A Unix-domain connect never waits: it is queued, refused, or EAGAIN when the queue is full.
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address.address), address.length) !=
            0 ||
        !SameUser(fd.Get())) {
        return std::nullopt;
    }
    const Clock::time_point deadline = Clock::now() + kAnswerTimeout;
    std::string answer;
    if (!WriteAll(fd.Get(), request + "\n", deadline) || !ReadLine(fd.Get(), deadline, answer))
        return std::nullopt;
    return answer;
}

}  // namespace

bool Listen(FindFunction find, ForegroundFunction foreground) {
    static const bool registered = pthread_atfork(nullptr, nullptr, StopInChild) == 0;
    (void)registered;
    if (listener.fd.Get() < 0) {
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (fd.Get() < 0)
            return false;
        const Address address = DeviceAddress();
        if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address.address), address.length) !=
                0 ||
            listen(fd.Get(), 16) != 0) {
            return false;
        }
        listener.fd = std::move(fd);
    }
    listener.find = std::move(find);
    listener.foreground = std::move(foreground);
    return true;
}

int ListenFd() {
    return listener.fd.Get();
}

void HandlePending() {
    while (listener.fd.Get() >= 0) {
        UniqueFd connection(
            accept4(listener.fd.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (connection.Get() < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        Serve(connection.Get());
    }
}

void StopListening() {
    listener = Listener();
}

std::optional<uint64_t> FindRemote(std::u16string_view title) {
    const std::optional<std::string> answer = Ask("FIND " + EscapeTitle(title));
    if (!answer || *answer == "NONE")
        return std::nullopt;
    return ParseId(*answer);
}

bool ForegroundRemote(uint64_t id) {
    const std::optional<std::string> answer = Ask("FOREGROUND " + std::to_string(id));
    return answer && *answer == "OK";
}

}  // namespace peer
