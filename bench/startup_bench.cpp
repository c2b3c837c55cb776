// A whole run of the program in script mode on a provisioned phone: start, open the menu, pick
// "Annuler". Prints the median of the repeated runs.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::filesystem::path inputFile;

int Run(const char* program, const std::vector<std::string>& args, const char* input) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int status = -1;
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) == 0) {
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_WholeRun(benchmark::State& state) {
    for (auto _ : state) {
        if (Run(TAVONNE_PROGRAM, {}, inputFile.c_str()) != 1) {
            state.SkipWithError("the run did not end with Annuler");
            break;
        }
    }
}

}  // namespace

BENCHMARK(BM_WholeRun)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    char folder[] = "/tmp/tavonne-startup-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return 1;
    setenv("TAVONNE_DEVICE", (std::string(folder) + "/device").c_str(), 1);
    inputFile = std::filesystem::path(folder) / "keys";
    std::ofstream(inputFile) << "SOFT2\n4\n";
    // A phone that has been set up before: no first-start alert.
    const std::string empty;
    if (Run(TAVONNE_DEVICE_TOOL, {"init"}, "/dev/null") != 0 ||
        Run(TAVONNE_DEVICE_TOOL,
            {"reg", "add", "HKCU\\Software\\Tavonne", "/v", "Dossier", "/d", empty, "/f"},
            "/dev/null") != 0) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
