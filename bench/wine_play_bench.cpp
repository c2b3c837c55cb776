// From "Jouer" to the player's answer in the Windows program under Wine: from the key that picks
// "Jouer" in the open menu until the player has written its status line, on a machine without an
// audio output ("pas de sortie audio") and with ALSA's null device (the tone has started). Most of
// it is Wine starting qhandler.exe.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "device/device_folder.h"
#include "support/audio.h"
#include "support/program.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kScripts = TAVONNE_WINE_SCRIPTS;
fs::path folder;

bool Tool(const std::vector<std::string>& args) {
    return RunProgram(kScripts + "/wine-tavonne-device", args).exitCode == 0;
}

// `alsa`: the ALSA configuration Wine's driver reads; `tone`: the call tone, which "Jouer" plays.
void BM_WineJouerToAnswer(benchmark::State& state, const char* alsa, const char* tone) {
    const fs::path config = folder / "alsa.conf";
    std::ofstream(config) << alsa;
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    if (!Tool({"init", "--reset"}) ||
        !Tool({"reg", "add", "HKCU\\Software\\Tavonne", "/v", "Dossier", "/d", "", "/f"}) ||
        !Tool({"reg", "add", "HKCU\\ControlPanel\\Sounds\\RingTone0", "/v", "Sound", "/d", tone,
               "/f"})) {
        state.SkipWithError("the phone could not be prepared");
        return;
    }
    ProgramSession tavonne(kScripts + "/wine-tavonne");
    tavonne.Snap();
    for (auto _ : state) {
        const auto quiet = Clock::now() + std::chrono::seconds(10);
        while (!RunningPlayers().empty() && Clock::now() < quiet)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fs::remove(device::StatusFile());
        tavonne.Send("SOFT2");
        tavonne.Snap();
        const auto start = Clock::now();
        tavonne.Send("1");
        const auto patience = start + std::chrono::seconds(10);
        while (!fs::exists(device::StatusFile()) && Clock::now() < patience)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const auto end = Clock::now();
        if (end >= patience) {
            state.SkipWithError("the player did not answer");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    tavonne.Send("SOFT2");
    tavonne.Send("4");
    tavonne.Finish();
}

void Timed(benchmark::internal::Benchmark* bench) {
    bench->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4)->Repetitions(5);
    bench->ReportAggregatesOnly(true);
}

const char kNoDevice[] = "";
const char kNullDevice[] = "pcm.default { type null }\n";

}  // namespace

BENCHMARK_CAPTURE(BM_WineJouerToAnswer, wav_no_output, kNoDevice, "\\Windows\\Standard.wav")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_WineJouerToAnswer, midi_no_output, kNoDevice, "\\Windows\\Alarm1.mid")
    ->Apply(Timed);
BENCHMARK_CAPTURE(BM_WineJouerToAnswer, wav_null_device, kNullDevice, "\\Windows\\Standard.wav")
    ->Apply(Timed);

int main(int argc, char** argv) {
    char temporary[] = "/tmp/tavonne-wine-play-XXXXXX";
    if (mkdtemp(temporary) == nullptr)
        return 1;
    folder = temporary;
    setenv("TAVONNE_DEVICE", (folder / "device").c_str(), 1);
    setenv("TAVONNE_WINDOWS_PROGRAMS", TAVONNE_WINDOWS_PROGRAMS, 1);
    setenv("PULSE_SERVER", "unix:/nonexistent", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
