// The peer channel: a per-device Unix-domain socket with a one-line request and a one-line answer.
#include "platform/phone/peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/random.h>
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
#include <string_view>
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

// Only processes of this user speak on the channel.
bool SameUser(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == getuid();
}

// The channel's address: a socket in the abstract namespace, under a name that the listening copy
// draws at random and writes in run/peer.lock of the device folder. So two spellings of one
// folder meet, two folders are two phones, and only the folder's owner reads the name (the file is
// the owner's alone: nobody else can take the name before the listener does). A name of the
// abstract namespace is no file, so a start makes and removes none: making the socket's file cost
// a start from 0.02 ms to 0.4 ms, as the file system had lately removed few or many files.
constexpr char kNameFile[] = "peer.lock";
constexpr std::string_view kNamePrefix = "tavonne-peer-";
constexpr size_t kRandomBytes = 16;

struct Address {
    sockaddr_un address{};
    socklen_t length = 0;
};

Address AddressOf(std::string_view name) {
    Address result;
    result.address.sun_family = AF_UNIX;
    // A first NUL puts the name in the abstract namespace.
    std::copy(name.begin(), name.end(), result.address.sun_path + 1);
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return result;
}

const sockaddr* Raw(const Address& address) {
    return reinterpret_cast<const sockaddr*>(&address.address);
}

// A new name: the prefix and random bytes in hexadecimal.
std::optional<std::string> NewName() {
    unsigned char random[kRandomBytes];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        return std::nullopt;
    static const char digits[] = "0123456789abcdef";
    std::string name(kNamePrefix);
    for (const unsigned char byte : random) {
        name += digits[byte >> 4];
        name += digits[byte & 15];
    }
    return name;
}

// The name written in the file: its first line, when it is one of ours.
std::optional<std::string> ReadName(int file) {
    char buffer[128];
    const ssize_t got = pread(file, buffer, sizeof buffer, 0);
    if (got <= 0)
        return std::nullopt;
    const std::string_view content(buffer, static_cast<size_t>(got));
    const std::string_view name = content.substr(0, content.find('\n'));
    if (name.size() != kNamePrefix.size() + 2 * kRandomBytes || !name.starts_with(kNamePrefix))
        return std::nullopt;
    return std::string(name);
}

// Takes a lock on the name file, which copies of ours hold for an instant only: never waited on
// for long.
bool LockNameFile(int file, int operation) {
    const auto deadline = Clock::now() + kRequestTimeout;
    while (flock(file, operation | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Whether a process of this user listens on the address (one that is busy is taken to be).
bool Answers(const Address& address) {
    const UniqueFd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (probe.Get() < 0)
        return false;
    if (connect(probe.Get(), Raw(address), address.length) == 0)
        return SameUser(probe.Get());
    return errno == EAGAIN;
}

// Binds `fd` to a new name and listens, unless a live copy listens on the name in the file: the
// look and the new name happen under a lock on the file, so two copies never both listen.
bool BindAndListen(int fd) {
    const UniqueFd run = device::OpenFolderBeneath(device::Folder(), "run", true);
    if (run.Get() < 0)
        return false;
    const UniqueFd file(
        openat(run.Get(), kNameFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
    if (file.Get() < 0 || !LockNameFile(file.Get(), LOCK_EX))
        return false;
    if (const std::optional<std::string> old = ReadName(file.Get());
        old && Answers(AddressOf(*old)))
        return false;
    const std::optional<std::string> name = NewName();
    if (!name)
        return false;
    const Address address = AddressOf(*name);
    const std::string line = *name + "\n";
    return bind(fd, Raw(address), address.length) == 0 && listen(fd, SOMAXCONN) == 0 &&
           pwrite(file.Get(), line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
}

// The address of the device's listener, from the file; nothing when none was written.
std::optional<Address> ListenerAddress() {
    const UniqueFd run = device::OpenFolderBeneath(device::Folder(), "run", false);
    if (run.Get() < 0)
        return std::nullopt;
    const UniqueFd file(openat(run.Get(), kNameFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.Get() < 0 || !LockNameFile(file.Get(), LOCK_SH))
        return std::nullopt;
    const std::optional<std::string> name = ReadName(file.Get());
    if (!name)
        return std::nullopt;
    return AddressOf(*name);
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
    const std::optional<Address> address = ListenerAddress();
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
        if (!BindAndListen(fd.Get()))
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
