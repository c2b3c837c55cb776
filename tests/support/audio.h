// What the player and the device tool write: WAV files read back, their loudness and their
// silences, and the players running on a test's device.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

struct Sound {
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved

    double Seconds() const;
    // Root mean square of all samples, 0 to 32768.
    double Rms() const;
    // The loudness while it sounds: the root mean square, in dB of full scale, of the frames from
    // the first to the last one with a sample beyond ±`level`.
    double SoundingRmsDb(int level) const;
    // The stretches of silence (every sample within ±`level`) at least `shortest` seconds long,
    // as [start, end) in seconds.
    std::vector<std::pair<double, double>> Silences(int level, double shortest) const;
};

// A WAV file read with libsndfile; nothing when it is not one.
std::optional<Sound> ReadSound(const std::filesystem::path& file);

// The running (not ended) processes of the player installed in this test's device folder, of the
// Linux build or, under Wine, of the Windows build.
std::vector<pid_t> RunningPlayers();
