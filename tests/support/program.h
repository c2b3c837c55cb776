// Running the real programs (tavonne, tavonne-device) as separate processes in a test's device.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct ProgramResult {
    int exitCode = -1;  // 128 + signal when killed by one
    std::string out;
    std::string err;
};

// Variables to set for one run, or with nullopt to remove; the rest is the test's own.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// Runs a program to its end with this standard input, each argument exactly as given.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "", const EnvironmentChanges& changes = {});

// Starts a program with its standard streams on /dev/null and returns at once: the caller waits
// for it (or kills it).
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args);

// Asks `condition` every `step` until it holds, for `bound` at most; whether it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound,
               std::chrono::microseconds step = std::chrono::milliseconds(20));

// tavonne-device with these arguments.
ProgramResult RunDeviceTool(const std::vector<std::string>& args, const std::string& input = "",
                            const EnvironmentChanges& changes = {});

// A program that runs while the test feeds it lines and reads what it prints.
class ProgramSession {
  public:
    explicit ProgramSession(const std::string& program);
    ~ProgramSession();
    ProgramSession(const ProgramSession&) = delete;
    ProgramSession& operator=(const ProgramSession&) = delete;

    void Send(const std::string& line);
    // Reads standard output up to and including the next line equal to `line`; nullopt when
    // the program ends or stays silent for `seconds` first.
    std::optional<std::string> ReadThrough(const std::string& line, int seconds = 20);
    // Sends SNAP and returns the screen it prints (without the closing "----").
    std::string Snap();
    // Closes standard input and waits for the program to end: its exit code.
    int Finish();
    // What the program wrote on standard error so far.
    std::string Errors() const;
    pid_t Pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::filesystem::path errors_;
    std::string pending_;
    std::optional<int> exitCode_;
};
