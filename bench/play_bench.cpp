// From "Jouer" to the first sound: the time from the program's launch of the player (what the
// main screen's "Jouer" calls) until the first samples of the tone are written, to the file
// TAVONNE_AUDIO_OUT names or to an audio device (SDL's disk driver, which writes what a sound
// card would play). "cold" stops the device's resident player before each launch, so the launch
// starts one (process, synthesizer, SoundFont); "warm" finds the one the previous launch left.
// For the device, each launch is split in two: until SDL opened the device (the disk driver
// creates its file then: the player's own work), and from there to the first bytes in the file
// (the driver's pace: it wakes once per buffer and writes through a 4096-byte stdio buffer, so at
// 11025 Hz mono the first bytes show 186 ms after the sound started, at 44100 Hz stereo 23 ms).
// Also the player's process alone (a launch for a missing file): its start, with the dynamic
// linking of FluidSynth, SDL and libsndfile, against a bare process.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <shellapi.h>

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "device/device_folder.h"
#include "device/provision.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path folder;

bool Launch(const char16_t* tone) {
    SHELLEXECUTEINFOW launch{};
    launch.cbSize = sizeof launch;
    launch.lpVerb = u"open";
    launch.lpFile = u"\\Windows\\qhandler.exe";
    launch.lpParameters = tone;
    return ShellExecuteExW(&launch) != FALSE;
}

std::uintmax_t Size(const fs::path& file) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    return error ? 0 : size;
}

// The player writes TAVONNE_AUDIO_OUT beside its name (".out.wav.new-PID-...") and renames it
// into place at the tone's end: what it has written so far is the largest of the two, 0 while
// neither exists.
std::uintmax_t WrittenSize(const fs::path& out) {
    const std::string temporary = "." + out.filename().string() + ".new-";
    std::uintmax_t written = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(out.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name == out.filename() || name.starts_with(temporary))
            written = std::max(written, Size(entry.path()) + 1);
    }
    return written;
}

// Whether the device's file holds sound (not silence) after its first `from` bytes.
bool Sounds(const fs::path& file, std::uintmax_t from) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (std::any_of(buffer, buffer + in.gcount(), [](char c) { return c != 0; }))
            return true;
    }
    return false;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Stops the device's resident player, and waits until no player holds the device's lock.
void StopPlayer() {
    const fs::path lock = device::Folder() / "run" / "qhandler.lock";
    std::ifstream in(lock);
    pid_t pid = 0;
    if (in >> pid && pid > 0)
        kill(pid, SIGTERM);
    const int fd = open(lock.c_str(), O_RDWR | O_CLOEXEC);
    for (int tries = 0; fd >= 0 && tries < 500 && flock(fd, LOCK_EX | LOCK_NB) != 0; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (fd >= 0)
        close(fd);
}

struct Parts {
    std::vector<double> total, opened, sounded;
};
std::map<std::string, Parts> parts;

// `toDevice`: SDL's disk driver, else TAVONNE_AUDIO_OUT; `warm`: the resident player is kept;
// `tone`: a device path.
void BM_JouerToFirstSample(benchmark::State& state, bool toDevice, bool warm,
                           const char16_t* tone) {
    const fs::path out = folder / (toDevice ? "device.raw" : "out.wav");
    // A WAV file starts with its 44-byte header; the device's file with the sound itself.
    const std::uintmax_t header = toDevice ? 0 : 44;
    if (toDevice) {
        unsetenv("TAVONNE_AUDIO_OUT");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    } else {
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        setenv("TAVONNE_AUDIO_OUT", out.c_str(), 1);
    }
    StopPlayer();
    std::error_code ignored;
    // The first launch of a warm run leaves the player for the others.
    if (warm && Launch(tone))
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string tail =
        std::string(toDevice ? "device" : "file") + (warm ? ", warm" : ", cold");
    const bool wave = tone[std::char_traits<char16_t>::length(tone) - 1] == u'v';
    Parts& mine = parts[(wave ? "WAV to " : "MIDI to ") + tail];
    for (auto _ : state) {
        if (!warm)
            StopPlayer();
        // A warm player keeps the device open, writing silence between tones: the next tone is
        // launched once the last has ended (as when a person listens to it to its end).
        std::uintmax_t before = header;
        if (toDevice && warm) {
            for (before = Size(out); Sounds(out, before); before = Size(out))
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
        } else {
            fs::remove(out, ignored);
        }
        const auto start = Clock::now();
        if (!Launch(tone)) {
            state.SkipWithError("the player could not be launched");
            break;
        }
        const auto patience = start + std::chrono::seconds(10);
        while (!(toDevice ? fs::exists(out, ignored) : WrittenSize(out) > 0) &&
               Clock::now() < patience)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        const auto opened = Clock::now();
        while (!(toDevice ? Sounds(out, before) : WrittenSize(out) > header + 1) &&
               Clock::now() < patience)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        const auto end = Clock::now();
        if (end >= patience) {
            state.SkipWithError("no sound was written");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        mine.total.push_back(Milliseconds(end - start));
        mine.opened.push_back(Milliseconds(opened - start));
        mine.sounded.push_back(Milliseconds(end - opened));
    }
    StopPlayer();
}

void Timed(benchmark::internal::Benchmark* bench) {
    bench->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(5);
    bench->ReportAggregatesOnly(true);
}

// Each launch waits for the tone before it to end.
void TimedToTheEnd(benchmark::internal::Benchmark* bench) {
    bench->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);
    bench->ReportAggregatesOnly(true);
}

// One process run to its end: wall and CPU time from wait4.
struct Run {
    double wall, cpu;
};

Run RunProcess(const char* program, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = -1;
    int status = 0;
    rusage usage{};
    Run run{0, 0};
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ) == 0 &&
        wait4(pid, &status, 0, &usage) == pid) {
        run.wall = Milliseconds(Clock::now() - start);
        run.cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                  (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

std::map<std::string, std::pair<double, double>> processes;

// The player for a tone that is not there: its process start and its check, nothing played.
void BM_PlayerProcess(benchmark::State& state, bool bare) {
    const std::string player = (device::FileSystemRoot() / "Windows" / "qhandler.exe").string();
    std::vector<double> walls, cpus;
    for (auto _ : state) {
        const Run run = bare ? RunProcess("/bin/true", {})
                             : RunProcess(player.c_str(), {"\\Windows\\Absent.mid"});
        state.SetIterationTime(run.wall / 1e3);
        walls.push_back(run.wall);
        cpus.push_back(run.cpu);
    }
    processes[bare ? "bare process (/bin/true)" : "player, missing tone"] = {Median(walls),
                                                                             Median(cpus)};
}

}  // namespace

BENCHMARK_CAPTURE(BM_JouerToFirstSample, wav_to_file_cold, false, false, u"\\Windows\\Standard.wav")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, midi_to_file_cold, false, false, u"\\Windows\\Alarm1.mid")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, wav_to_file_warm, false, true, u"\\Windows\\Standard.wav")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, midi_to_file_warm, false, true, u"\\Windows\\Alarm1.mid")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, wav_to_device_cold, true, false,
                  u"\\Windows\\Standard.wav")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, midi_to_device_cold, true, false, u"\\Windows\\Alarm1.mid")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, wav_to_device_warm, true, true, u"\\Windows\\Standard.wav")
    ->Apply(TimedToTheEnd);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, midi_to_device_warm, true, true, u"\\Windows\\Alarm1.mid")
    ->Apply(TimedToTheEnd);
BENCHMARK_CAPTURE(BM_PlayerProcess, player, false)->UseManualTime()->Iterations(25);
BENCHMARK_CAPTURE(BM_PlayerProcess, bare, true)->UseManualTime()->Iterations(25);

int main(int argc, char** argv) {
    char temporary[] = "/tmp/tavonne-play-XXXXXX";
    if (mkdtemp(temporary) == nullptr)
        return 1;
    folder = temporary;
    setenv("TAVONNE_DEVICE", (folder / "device").c_str(), 1);
    if (!device::EnsureProvisioned())
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n%-52s %10s %18s %16s\n", "from \"Jouer\" (medians, ms)", "to sound",
                "to device opened", "opened to sound");
    for (const auto& [name, p] : parts) {
        const double total = Median(p.total);
        if (name.find("device") == std::string::npos || name.find("warm") != std::string::npos)
            std::printf("%-52s %10.1f\n", name.c_str(), total);
        else
            std::printf("%-52s %10.1f %18.1f %16.1f\n", name.c_str(), total, Median(p.opened),
                        Median(p.sounded));
    }
    std::printf("\n%-52s %10s %10s\n", "process run to its end (medians, ms)", "wall", "cpu");
    for (const auto& [name, run] : processes)
        std::printf("%-52s %10.2f %10.2f\n", name.c_str(), run.first, run.second);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
