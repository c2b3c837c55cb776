// File search cost: FindFirstFileW/FindNextFileW over big tone folders against readdir + fnmatch.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "device/device_folder.h"
#include "base/text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSizes[] = {1000, 10000, 100000};

std::string FolderName(int64_t files) {
    return "Bench" + std::to_string(files);
}

// `files` tone files, one in seven with an upper-case extension, and a tenth as many other names.
void MakeFolder(int64_t files) {
    const fs::path folder = device::FileSystemRoot() / FolderName(files);
    fs::create_directories(folder);
    char name[64];
    for (int64_t i = 0; i < files + files / 10; ++i) {
        if (i < files)
            snprintf(name, sizeof name, "Tone %06lld.%s", static_cast<long long>(i),
                     i % 7 == 0 ? "WAV" : "wav");
        else
            snprintf(name, sizeof name, "Note %06lld.txt", static_cast<long long>(i));
        const int fd = open((folder / name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
    }
}

int64_t SearchAll(const std::u16string& pattern) {
    int64_t found = 0;
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ++found;
            benchmark::DoNotOptimize(data.cFileName[0]);
        } while (FindNextFileW(search, &data));
        FindClose(search);
    }
    return found;
}

std::u16string TonePattern(int64_t files) {
    return text::FromUtf8("\\" + FolderName(files) + "\\*.wav");
}

// A refresh of a folder searched before, with no file changed since: the catalogue's usual case.
void BM_FindFiles(benchmark::State& state) {
    const std::u16string pattern = TonePattern(state.range(0));
    SearchAll(pattern);
    int64_t found = 0;
    for (auto _ : state)
        found = SearchAll(pattern);
    if (found != state.range(0))
        state.SkipWithError("wrong number of names found");
    state.SetItemsProcessed(state.iterations() * found);
}

// A refresh after every file of the folder changed (new times), so every entry is read afresh.
void BM_FindFilesAllChanged(benchmark::State& state) {
    const std::u16string pattern = TonePattern(state.range(0));
    const fs::path folder = device::FileSystemRoot() / FolderName(state.range(0));
    int64_t found = 0;
    int64_t round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const timespec times[2] = {{++round, 0}, {round, 0}};
        for (const auto& entry : fs::directory_iterator(folder))
            utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
        state.ResumeTiming();
        found = SearchAll(pattern);
    }
    if (found != state.range(0))
        state.SkipWithError("wrong number of names found");
    state.SetItemsProcessed(state.iterations() * found);
}

// The baseline: readdir and fnmatch over the same folder, with one fstatat per matching name when
// `withStat` (what filling size and times costs at least).
void ReaddirFnmatch(benchmark::State& state, bool withStat) {
    const fs::path folder = device::FileSystemRoot() / FolderName(state.range(0));
    int64_t found = 0;
    for (auto _ : state) {
        found = 0;
        DIR* dir = opendir(folder.c_str());
        while (const dirent* entry = readdir(dir)) {
            if (fnmatch("*.wav", entry->d_name, FNM_CASEFOLD) != 0)
                continue;
            if (withStat) {
                struct stat info {};
                if (fstatat(dirfd(dir), entry->d_name, &info, 0) == 0)
                    ++found;
                benchmark::DoNotOptimize(info.st_size);
            } else {
                ++found;
                benchmark::DoNotOptimize(entry->d_name[0]);
            }
        }
        closedir(dir);
    }
    if (found != state.range(0))
        state.SkipWithError("wrong number of names found");
    state.SetItemsProcessed(state.iterations() * found);
}

void BM_ReaddirFnmatch(benchmark::State& state) {
    ReaddirFnmatch(state, false);
}

void BM_ReaddirFnmatchStat(benchmark::State& state) {
    ReaddirFnmatch(state, true);
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (const int size : kSizes)
        b->Arg(size);
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_FindFiles)->Apply(Sizes);
BENCHMARK(BM_FindFilesAllChanged)->Apply(Sizes);
BENCHMARK(BM_ReaddirFnmatch)->Apply(Sizes);
BENCHMARK(BM_ReaddirFnmatchStat)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
    std::string top = (fs::temp_directory_path() / "tavonne-bench-XXXXXX").string();
    if (mkdtemp(top.data()) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    setenv("TAVONNE_DEVICE", (fs::path(top) / "device").c_str(), 1);
    device::ResetForTesting();
    for (const int size : kSizes)
        MakeFolder(size);

    benchmark::Initialize(&argc, argv);
    int status = 0;
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        status = 1;
    else
        benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::error_code ignored;
    fs::remove_all(top, ignored);
    return status;
}
