// From "Jouer" to the first sound: the time from the program's launch of the player (what the
// main screen's "Jouer" calls) until the first samples of the tone are written, to the file
// TAVONNE_AUDIO_OUT names or to an audio device (SDL's disk driver, which writes what a sound
// card would play). A MIDI tone includes starting the synthesizer and loading the SoundFont.
#include <benchmark/benchmark.h>

#include <windows.h>
#include <shellapi.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "device/device_folder.h"
#include "device/provision.h"

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

// Stops the player still playing, and waits until no player holds the device's lock.
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

// `toDevice`: SDL's disk driver, else TAVONNE_AUDIO_OUT; `tone`: a device path.
void BM_JouerToFirstSample(benchmark::State& state, bool toDevice, const char16_t* tone) {
    const fs::path out = folder / (toDevice ? "device.raw" : "out.wav");
    // A WAV file starts with its 44-byte header; the device's file with the sound itself.
    const std::uintmax_t header = toDevice ? 0 : 44;
    if (toDevice) {
        unsetenv("TAVONNE_AUDIO_OUT");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    } else {
        setenv("TAVONNE_AUDIO_OUT", out.c_str(), 1);
    }
    for (auto _ : state) {
        StopPlayer();
        fs::remove(out);
        const auto start = Clock::now();
        if (!Launch(tone)) {
            state.SkipWithError("the player could not be launched");
            break;
        }
        const auto patience = start + std::chrono::seconds(10);
        while (Size(out) <= header && Clock::now() < patience)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        const auto end = Clock::now();
        if (end >= patience) {
            state.SkipWithError("no sound was written");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    StopPlayer();
}

void Timed(benchmark::internal::Benchmark* bench) {
    bench->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(5);
    bench->ReportAggregatesOnly(true);
}

}  // namespace

BENCHMARK_CAPTURE(BM_JouerToFirstSample, wav_to_file, false, u"\\Windows\\Standard.wav")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, midi_to_file, false, u"\\Windows\\Alarm1.mid")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, wav_to_device, true, u"\\Windows\\Standard.wav")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_JouerToFirstSample, midi_to_device, true, u"\\Windows\\Alarm1.mid")
    ->Apply(Timed);

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
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
