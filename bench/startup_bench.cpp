// A whole run of the program in script mode on a provisioned phone (start, "Menu", "Annuler")
// against the least a correct start can do: readdir_baseline --stat, a small C program that reads
// the same two folders once, keeps the tone names and stats each of them (a file search fills in
// each file's size, times and attributes); and against a bare listing that stats nothing. The
// three run in turn, each started directly; the CPU time (user + system) of each comes from
// wait4. Prints, per number of tone files in the user's folder, the median of the per-run ratios
// against each baseline and the program's peak resident memory.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
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

fs::path device;
fs::path keys;

struct Finished {
    int exitCode = -1;
    double cpuSeconds = 0;
    double peakMiB = 0;
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
        finished.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024;
    }
    posix_spawn_file_actions_destroy(&actions);
    return finished;
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
    if (Run(TAVONNE_DEVICE_TOOL,
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
    double peakMiB = 0;
    for (auto _ : state) {
        const Finished program = Run(TAVONNE_PROGRAM, {}, keys.c_str());
        const Finished listing = Run(TAVONNE_READDIR_BASELINE, statted, "/dev/null");
        const Finished readdir = Run(TAVONNE_READDIR_BASELINE, folders, "/dev/null");
        if (program.exitCode != 1 || listing.exitCode != 0 || readdir.exitCode != 0) {
            state.SkipWithError("a run did not end as it should");
            return;
        }
        state.SetIterationTime(program.cpuSeconds);
        statRatios.push_back(program.cpuSeconds / listing.cpuSeconds);
        readdirRatios.push_back(program.cpuSeconds / readdir.cpuSeconds);
        programTimes.push_back(program.cpuSeconds);
        statTimes.push_back(listing.cpuSeconds);
        readdirTimes.push_back(readdir.cpuSeconds);
        peakMiB = std::max(peakMiB, program.peakMiB);
    }
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
    ->Iterations(21);
BENCHMARK(BM_WholeRun)->Arg(100000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);

int main(int argc, char** argv) {
    char folder[] = "/tmp/tavonne-startup-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return 1;
    device = fs::path(folder) / "device";
    setenv("TAVONNE_DEVICE", device.c_str(), 1);
    keys = fs::path(folder) / "keys";
    std::ofstream(keys) << "SOFT2\n4\n";
    if (Run(TAVONNE_DEVICE_TOOL, {"init"}, "/dev/null").exitCode != 0)
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
