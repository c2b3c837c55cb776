// The peer channel: a per-device Unix-domain socket with a one-line request and a one-line answer.
#include "platform/phone/peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <thread>

#include "device/beneath.h"
#include "device/device_folder.h"
#include "device/registry_store.h"
#include "base/text.h"
#include "platform/kernel32/mutex.h"

namespace peer {

namespace {

// How long a listener waits for the whole request.
constexpr std::chrono::milliseconds kRequestTimeout{100};
// The longest pause between two tries of a client.
constexpr std::chrono::milliseconds kLongestPause{64};
constexpr size_t kMaxLine = 4096;

using device::UniqueFd;
using Clock = std::chrono::steady_clock;

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

// The channel's address: the socket run/peer of the device folder, so two spellings of one
// folder meet, two folders are two phones, and no other user can take its name. It is reached
// through the run/ folder's descriptor, so the address stays short however long the path.
constexpr char kSocketName[] = "peer";

struct Address {
    UniqueFd folder;
    sockaddr_un address{};
    socklen_t length = 0;
};

std::optional<Address> DeviceAddress(bool make) {
    Address result;
    result.folder = device::OpenFolderBeneath(device::Folder(), "run", make);
    if (result.folder.Get() < 0)
        return std::nullopt;
    const std::string path =
        "/proc/self/fd/" + std::to_string(result.folder.Get()) + "/" + kSocketName;
    result.address.sun_family = AF_UNIX;
    std::copy(path.begin(), path.end(), result.address.sun_path);
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return result;
}

const sockaddr* Raw(const Address& address) {
    return reinterpret_cast<const sockaddr*>(&address.address);
}

// Whether a process listens on the address.
bool Answers(const Address& address) {
    const UniqueFd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    return probe.Get() >= 0 &&
           (connect(probe.Get(), Raw(address), address.length) == 0 || errno == EAGAIN);
}

// Binds `fd` to the address and listens. A socket left by a copy that has ended is replaced;
// one that a live process listens on is not. The look and the replacement happen under a lock
// on run/peer.lock, so two copies never both take the name.
bool BindAndListen(int fd, const Address& address) {
    const UniqueFd lock(openat(address.folder.Get(), "peer.lock",
                               O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
    if (lock.Get() < 0)
        return false;
    // Held only for an instant by a copy of ours; never waited on for long.
    const auto deadline = Clock::now() + kRequestTimeout;
    while (flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (bind(fd, Raw(address), address.length) != 0) {
        if (errno != EADDRINUSE || Answers(address) ||
            unlinkat(address.folder.Get(), kSocketName, 0) != 0 ||
            bind(fd, Raw(address), address.length) != 0)
            return false;
    }
    return listen(fd, SOMAXCONN) == 0;
}

// Only processes of this user speak on the channel.
bool SameUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == getuid();
}

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

// What one try at a request came to.
struct Reply {
    enum class Kind {
        Answered,  // the answer line
        Busy,      // the listener's queue is full: it is there, but cannot take one more yet
        Nobody,    // no process listens, or the listener went away before it answered
    };
    Kind kind = Kind::Nobody;
    std::string line;
};

Reply TryAsk(const std::string& request, Clock::time_point deadline) {
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0)
        return {};
    const std::optional<Address> address = DeviceAddress(false);
    if (!address)
        return {};
    // A Unix-domain connect never waits: it is queued, refused, or EAGAIN when the queue is full.
    if (connect(fd.Get(), Raw(*address), address->length) != 0)
        return {errno == EAGAIN ? Reply::Kind::Busy : Reply::Kind::Nobody, {}};
    Reply reply;
    if (SameUser(fd.Get()) && WriteAll(fd.Get(), request + "\n", deadline) &&
        ReadLine(fd.Get(), deadline, reply.line)) {
        reply.kind = Reply::Kind::Answered;
    }
    return reply;
}

// Sends one request to the device's listener and returns its answer line. It tries again, more
// and more slowly, while the listener is there but busy, and while `final` rejects the answer or
// nobody answers but the running copy may still be starting (see
// NamedMutexSharedWithAnotherProcess); never past a few seconds.
std::optional<std::string> Ask(const std::string& request,
                               bool (*final)(const std::string& answer)) {
    if (listener.fd.Get() >= 0)
        return std::nullopt;
    // The running copy may be waiting to write the registry while this one waits for its answer.
    device::registry::EndReads();
    const Clock::time_point deadline = Clock::now() + kAnswerTimeout;
    std::chrono::milliseconds pause{1};
    while (true) {
        const Reply reply = TryAsk(request, deadline);
        const bool done = reply.kind == Reply::Kind::Answered && final(reply.line);
        const bool again = !done && (reply.kind == Reply::Kind::Busy ||
                                     platform::NamedMutexSharedWithAnotherProcess());
        if (!again || Clock::now() + pause >= deadline) {
            if (reply.kind != Reply::Kind::Answered)
                return std::nullopt;
            return reply.line;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, kLongestPause);
    }
}

}  // namespace

bool Listen(FindFunction find, ForegroundFunction foreground) {
    static const bool registered = pthread_atfork(nullptr, nullptr, StopInChild) == 0;
    (void)registered;
    if (listener.fd.Get() < 0) {
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (fd.Get() < 0)
            return false;
        const std::optional<Address> address = DeviceAddress(true);
        if (!address || !BindAndListen(fd.Get(), *address))
            return false;
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
    // NONE may come from a copy that has not made its windows yet.
    const std::optional<std::string> answer =
        Ask("FIND " + EscapeTitle(title), [](const std::string& line) { return line != "NONE"; });
    if (!answer || *answer == "NONE")
        return std::nullopt;
    return ParseId(*answer);
}

bool ForegroundRemote(uint64_t id) {
    const std::optional<std::string> answer =
        Ask("FOREGROUND " + std::to_string(id), [](const std::string&) { return true; });
    return answer && *answer == "OK";
}

}  // namespace peer
