// A whole run of the program in script mode on a provisioned phone (start, "Menu", "Annuler")
// against the least a correct start can do: readdir_baseline --stat, a small C program that reads
// the same two folders once, keeps the tone names and stats each of them (a file search fills in
// each file's size, times and attributes); and against a bare listing that stats nothing. The
// three run in turn, each started directly; the CPU time (user + system) of each comes from
// wait4. Prints, per number of tone files in the user's folder, the median of the per-run ratios
// against each baseline and the program's peak resident memory (from one more start).
//
// What is measured is a start as a person's phone makes it, not the state the build leaves:
// - The programs run from copies whose pages have left memory, so that the system reads them
//   back as it reads an installed program. How a file came into memory weighs on every start of
//   the program: run from the file the linker has just written it took 6% more time, and from a
//   copy just written 5% less, than read back from disk. Where a copy's pages happen to lie
//   weighs too (2 to 3% between copies): compare the medians of several runs of the bench.
// - Each case first runs the three a number of times unmeasured: the first starts after a phone
//   is made or a folder filled are slower (up to 20% over some 30 starts).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Starts of each case run unmeasured first (see above).
constexpr int kUnmeasuredRuns = 30;

fs::path device;
fs::path keys;
// The copies of the programs that run.
std::string program, deviceTool, baseline;

struct Finished {
    int exitCode = -1;
    double cpuSeconds = 0;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

Finished Run(const char* program, const std::vector<std::string>& args, const char* input) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    Finished finished;
    pid_t pid = -1;
    int status = 0;
    rusage usage{};
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) == 0 &&
        wait4(pid, &status, 0, &usage) == pid) {
        finished.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        finished.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    }
    posix_spawn_file_actions_destroy(&actions);
    return finished;
}

// The program's own peak resident memory (VmHWM), read as it ends, in MiB; 0 when it cannot be
// read. Not wait4's ru_maxrss, which also counts the memory of the process that started it (Linux
// keeps the larger of the two across exec), here the bench's own 3.8 MiB.
double PeakMiB(const char* program, const char* input) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(input, O_RDONLY);
        const int out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 ||
            ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(127);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    double peak = 0;
    int status = 0;
    // Stopped first at the exec, then at the exit, while its memory is still there.
    while (pid > 0 && waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        int deliver = 0;
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            std::ifstream statusFile("/proc/" + std::to_string(pid) + "/status");
            std::string line;
            while (std::getline(statusFile, line)) {
                if (line.rfind("VmHWM:", 0) == 0)
                    peak = std::stod(line.substr(6)) / 1024;
            }
        } else if (WSTOPSIG(status) == SIGTRAP) {
            ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT);
        } else {
            deliver = WSTOPSIG(status);
        }
        ptrace(PTRACE_CONT, pid, nullptr, deliver);
    }
    return peak;
}

// Copies a program into `folder` and lets the copy's pages go from memory once they are on
// disk, so that its starts read it as they read an installed program; its path, or nothing when
// it cannot be copied.
std::string Install(const fs::path& file, const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    const fs::path copy = folder / file.filename();
    if (error || !fs::copy_file(file, copy, fs::copy_options::overwrite_existing, error))
        return "";
    const int fd = open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    const bool dropped =
        fd >= 0 && fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    if (fd >= 0)
        close(fd);
    return dropped ? copy.string() : "";
}

fs::path ToneFolder(int64_t files) {
    return device / "fs" / ("Tones" + std::to_string(files));
}

// `files` tone files, half .wav and half .mid.
void MakeFolder(int64_t files) {
    const fs::path folder = ToneFolder(files);
    fs::create_directories(folder);
    char name[64];
    for (int64_t i = 0; i < files; ++i) {
        snprintf(name, sizeof name, "Sonnerie %06lld.%s", static_cast<long long>(i),
                 i % 2 == 0 ? "wav" : "mid");
        const int fd = open((folder / name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Summary {
    double statRatio, readdirRatio, program, statListing, readdir, peakMiB;
};
std::map<int64_t, Summary> summaries;

void BM_WholeRun(benchmark::State& state) {
    const int64_t files = state.range(0);
    MakeFolder(files);
    const std::string folder = "\\Tones" + std::to_string(files) + "\\";
    if (Run(deviceTool.c_str(),
            {"reg", "add", "HKCU\\Software\\Tavonne", "/v", "Dossier", "/d", folder, "/f"},
            "/dev/null")
            .exitCode != 0) {
        state.SkipWithError("the tone folder could not be set");
        return;
    }
    const std::vector<std::string> folders = {
        ToneFolder(files).string(),
        (device / "fs" / "IPSM" / "Application Data" / "Sounds").string()};
    std::vector<std::string> statted = folders;
    statted.insert(statted.begin(), "--stat");
    std::vector<double> statRatios, readdirRatios, programTimes, statTimes, readdirTimes;
    for (int i = 0; i < kUnmeasuredRuns; ++i) {
        Run(program.c_str(), {}, keys.c_str());
        Run(baseline.c_str(), statted, "/dev/null");
        Run(baseline.c_str(), folders, "/dev/null");
    }
    for (auto _ : state) {
        const Finished run = Run(program.c_str(), {}, keys.c_str());
        const Finished listing = Run(baseline.c_str(), statted, "/dev/null");
        const Finished readdir = Run(baseline.c_str(), folders, "/dev/null");
        if (run.exitCode != 1 || listing.exitCode != 0 || readdir.exitCode != 0) {
            state.SkipWithError("a run did not end as it should");
            return;
        }
        state.SetIterationTime(run.cpuSeconds);
        statRatios.push_back(run.cpuSeconds / listing.cpuSeconds);
        readdirRatios.push_back(run.cpuSeconds / readdir.cpuSeconds);
        programTimes.push_back(run.cpuSeconds);
        statTimes.push_back(listing.cpuSeconds);
        readdirTimes.push_back(readdir.cpuSeconds);
    }
    const double peakMiB = PeakMiB(program.c_str(), keys.c_str());
    const Summary summary{Median(statRatios),         Median(readdirRatios),
                          Median(programTimes) * 1e3, Median(statTimes) * 1e3,
                          Median(readdirTimes) * 1e3, peakMiB};
    summaries[files] = summary;
    state.counters["stat_ratio"] = summary.statRatio;
    state.counters["readdir_ratio"] = summary.readdirRatio;
    state.counters["peak_MiB"] = summary.peakMiB;
}

}  // namespace

BENCHMARK(BM_WholeRun)
    ->Arg(0)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(41);
BENCHMARK(BM_WholeRun)->Arg(100000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(11);

int main(int argc, char** argv) {
    char folder[] = "/tmp/tavonne-startup-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return 1;
    // The copies stand as the build's programs do, the player where the program looks for it.
    const fs::path built = fs::path(TAVONNE_PROGRAM).parent_path();
    const fs::path copies = fs::path(folder) / "bin";
    program = Install(TAVONNE_PROGRAM, copies);
    deviceTool = Install(TAVONNE_DEVICE_TOOL, copies);
    baseline = Install(TAVONNE_READDIR_BASELINE, copies);
    const fs::path player = copies / fs::path(TAVONNE_PLAYER).lexically_relative(built);
    if (program.empty() || deviceTool.empty() || baseline.empty() ||
        Install(TAVONNE_PLAYER, player.parent_path()).empty())
        return 1;
    device = fs::path(folder) / "device";
    setenv("TAVONNE_DEVICE", device.c_str(), 1);
    keys = fs::path(folder) / "keys";
    std::ofstream(keys) << "SOFT2\n4\n";
    if (Run(deviceTool.c_str(), {"init"}, "/dev/null").exitCode != 0)
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n%10s %12s %12s %11s %11s %11s %10s\n", "tone files", "vs listing", "vs readdir",
                "program ms", "listing ms", "readdir ms", "peak MiB");
    std::printf("%10s %12s %12s %11s %11s %11s %10s\n", "", "(+ stat)", "", "(cpu)", "(cpu)",
                "(cpu)", "");
    for (const auto& [files, s] : summaries)
        std::printf("%10lld %12.2f %12.2f %11.2f %11.2f %11.2f %10.1f\n",
                    static_cast<long long>(files), s.statRatio, s.readdirRatio, s.program,
                    s.statListing, s.readdir, s.peakMiB);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
