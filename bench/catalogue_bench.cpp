// Cost of a tone-list refresh over big user folders, against a plain readdir listing of the same
// folders for the same two patterns: a refresh of folders searched before (the settings screen's
// "Terminé") and a cold one (the first of a run). Prints the ratios of the medians at the end.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "catalogue/catalogue.h"
#include "device/device_folder.h"
#include "device/paths.h"
#include "base/text.h"
#include "platform/kernel32/resources.h"
#include "res/resource.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kSizes[] = {1000, 10000, 100000};

std::string FolderName(int64_t files) {
    return "Tones" + std::to_string(files);
}

// `files` tone files, half .wav and half .mid, and a few other names.
void MakeFolder(int64_t files) {
    const fs::path folder = device::FileSystemRoot() / FolderName(files);
    fs::create_directories(folder);
    char name[64];
    for (int64_t i = 0; i < files + files / 20; ++i) {
        const char* extension = i >= files ? "txt" : (i % 2 == 0 ? "wav" : "mid");
        snprintf(name, sizeof name, "Sonnerie %06lld.%s", static_cast<long long>(i), extension);
        const int fd = open((folder / name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
    }
}

INT_PTR CALLBACK PlainScreenProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

HWND MainScreenForBench() {
    static HWND screen = [] {
        HINSTANCE module = resources::ModuleNamed("tavonne");
        HRSRC found = FindResourceW(module, MAKEINTRESOURCE(IDD_MAIN), RT_DIALOG);
        auto dialog = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(module, found)));
        return CreateDialogIndirectParamW(module, dialog, nullptr, PlainScreenProc, 0);
    }();
    return screen;
}

void BM_RefreshToneLists(benchmark::State& state) {
    HWND screen = MainScreenForBench();
    SearchFolders[0] = text::FromUtf8("\\" + FolderName(state.range(0)) + "\\");
    for (auto _ : state)
        RefreshToneLists(screen);
    if (TonePathCount < state.range(0) + 27)
        state.SkipWithError("tones missing from the lists");
}

// Marks every file of the folder as changed, so that the next search reads each one afresh, as
// the first refresh after the program starts does.
void TouchAll(const fs::path& folder) {
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fdopendir(dup(dir));
    while (const dirent* entry = readdir(listing)) {
        if (entry->d_name[0] != '.')
            utimensat(dir, entry->d_name, nullptr, 0);
    }
    closedir(listing);
    close(dir);
}

void BM_RefreshToneListsCold(benchmark::State& state) {
    HWND screen = MainScreenForBench();
    const fs::path folder = device::FileSystemRoot() / FolderName(state.range(0));
    SearchFolders[0] = text::FromUtf8("\\" + FolderName(state.range(0)) + "\\");
    for (auto _ : state) {
        state.PauseTiming();
        TouchAll(folder);
        state.ResumeTiming();
        RefreshToneLists(screen);
    }
    if (TonePathCount < state.range(0) + 27)
        state.SkipWithError("tones missing from the lists");
}

// What any listing of the same folders must do: read them once per pattern and match names.
int64_t ListWithReaddir(const fs::path& folder, const char* pattern) {
    int64_t found = 0;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return 0;
    while (const dirent* entry = readdir(dir)) {
        if (fnmatch(pattern, entry->d_name, FNM_CASEFOLD) == 0) {
            ++found;
            benchmark::DoNotOptimize(entry->d_name[0]);
        }
    }
    closedir(dir);
    return found;
}

void BM_ReaddirBaseline(benchmark::State& state) {
    const fs::path folders[] = {device::FileSystemRoot() / FolderName(state.range(0)),
                                device::HostPath(u"\\IPSM\\Application Data\\Sounds\\")};
    int64_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (const fs::path& folder : folders) {
            for (const char* pattern : {"*.wav", "*.mid"})
                found += ListWithReaddir(folder, pattern);
        }
    }
    if (found < state.range(0))
        state.SkipWithError("files missing from the listing");
}

// Keeps the median of each benchmark and size, to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name != "median")
                continue;
            const std::string name = run.run_name.function_name;
            medians[name][run.run_name.args] = run.GetAdjustedRealTime();
        }
    }
    void PrintRatios() const {
        auto baseline = medians.find("BM_ReaddirBaseline");
        if (baseline == medians.end())
            return;
        for (const char* name : {"BM_RefreshToneLists", "BM_RefreshToneListsCold"}) {
            auto refresh = medians.find(name);
            if (refresh == medians.end())
                continue;
            for (const auto& [args, time] : refresh->second) {
                auto base = baseline->second.find(args);
                if (base != baseline->second.end())
                    printf("ratio %s/readdir at %s files: %.2f\n", name + 3, args.c_str(),
                           time / base->second);
            }
        }
    }

  private:
    std::map<std::string, std::map<std::string, double>> medians;
};

}  // namespace

BENCHMARK(BM_RefreshToneLists)
    ->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_RefreshToneListsCold)
    ->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ReaddirBaseline)
    ->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    char folder[] = "/tmp/tavonne-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return 1;
    setenv("TAVONNE_DEVICE", (std::string(folder) + "/device").c_str(), 1);
    device::ResetForTesting();
    MainScreenForBench();  // provisions the device
    for (int64_t size : kSizes)
        MakeFolder(size);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
