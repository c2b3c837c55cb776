// Runs programs under test with pipes, so that tests can drive them and read what they print.
#include "support/files.h"
#include "support/program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

std::filesystem::path TempFile(const char* what) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string("tavonne-") + what + "-XXXXXX"))
            .string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw std::runtime_error("cannot create a temporary file");
    close(fd);
    return pattern;
}

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The test's environment with these changes.
std::vector<std::string> Environment(const EnvironmentChanges& changes) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        if (changes.count(entry.substr(0, entry.find('='))) == 0)
            environment.push_back(entry);
    }
    for (const auto& [name, value] : changes) {
        if (value)
            environment.push_back(name + "=" + *value);
    }
    return environment;
}

// Starts `program` with its standard input, output and error on these descriptors.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, int in, int out,
            int err, const EnvironmentChanges& changes = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment = Environment(changes);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int failed =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        throw std::runtime_error("cannot start " + program);
    return pid;
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const EnvironmentChanges& changes) {
    const std::filesystem::path in = TempFile("in"), out = TempFile("out"), err = TempFile("err");
    std::ofstream(in, std::ios::binary) << input;
    const int inFd = open(in.c_str(), O_RDONLY | O_CLOEXEC);
    const int outFd = open(out.c_str(), O_WRONLY | O_CLOEXEC);
    const int errFd = open(err.c_str(), O_WRONLY | O_CLOEXEC);
    const pid_t pid = Spawn(program, args, inFd, outFd, errFd, changes);
    close(inFd);
    close(outFd);
    close(errFd);
    int status = 0;
    waitpid(pid, &status, 0);
    ProgramResult result{ExitCodeOf(status), ReadFile(out), ReadFile(err)};
    for (const auto& file : {in, out, err})
        std::filesystem::remove(file);
    return result;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound,
               std::chrono::microseconds step) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args) {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = Spawn(program, args, null, null, null);
    close(null);
    return pid;
}

ProgramResult RunDeviceTool(const std::vector<std::string>& args, const std::string& input,
                            const EnvironmentChanges& changes) {
    ProgramResult result = RunProgram(TAVONNE_DEVICE_TOOL, args, input, changes);
#ifdef TAVONNE_ON_WINDOWS
    // The tool says why whenever it fails: a failure in silence is Wine not starting it. The
    // persistent server of a test run made that rare, not impossible (a clean clone's run lost a
    // test to it once more): it is started once more, and said so.
    if (result.exitCode != 0 && result.out.empty() && result.err.empty()) {
        std::cerr << "note: tavonne-device.exe ended with " << result.exitCode
                  << " before saying anything; started once more\n";
        result = RunProgram(TAVONNE_DEVICE_TOOL, args, input, changes);
    }
#endif
    return result;
}

ProgramSession::ProgramSession(const std::string& program) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make pipes");
    }
    errors_ = TempFile("err");
    const int errFd = open(errors_.c_str(), O_WRONLY | O_CLOEXEC);
    pid_ = Spawn(program, {}, in[0], out[1], errFd);
    close(in[0]);
    close(out[1]);
    close(errFd);
    input_ = in[1];
    output_ = out[0];
    // A program that ends early must not kill the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
}

ProgramSession::~ProgramSession() {
    if (!exitCode_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0)
        close(input_);
    if (output_ >= 0)
        close(output_);
    std::error_code ignored;
    std::filesystem::remove(errors_, ignored);
}

void ProgramSession::Send(const std::string& line) {
    const std::string data = line + "\n";
    if (input_ >= 0) {
        [[maybe_unused]] ssize_t written = write(input_, data.data(), data.size());
    }
}

std::optional<std::string> ProgramSession::ReadThrough(const std::string& line, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        // A complete line equal to `line` ends the read.
        size_t start = 0;
        for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
            if (pending_.compare(start, end - start, line) == 0) {
                std::string through = pending_.substr(0, end + 1);
                pending_.erase(0, end + 1);
                return through;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd ready{output_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t got = read(output_, buffer, sizeof buffer);
        if (got <= 0)
            return std::nullopt;
        pending_.append(buffer, static_cast<size_t>(got));
    }
}

std::string ProgramSession::Snap() {
    Send("SNAP");
    std::optional<std::string> screen = ReadThrough("----");
    if (!screen)
        return "(no screen)";
    // Drops the closing "----\n" and any event lines printed before the screen.
    std::string text = screen->substr(0, screen->size() - 5);
    while (text.rfind("event: ", 0) == 0)
        text.erase(0, text.find('\n') + 1);
    return text;
}

int ProgramSession::Finish() {
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
    if (!exitCode_) {
        int status = 0;
        waitpid(pid_, &status, 0);
        exitCode_ = ExitCodeOf(status);
    }
    return *exitCode_;
}

std::string ProgramSession::Errors() const {
    return ReadFile(errors_);
}
