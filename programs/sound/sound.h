// Playing tone files: WAV decoded by libsndfile, Standard MIDI Files synthesised by FluidSynth
// with a General MIDI SoundFont, heard through SDL's audio output, or written to the WAV file
// that TAVONNE_AUDIO_OUT names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "device/tone_file.h"

namespace sound {

// Why a tone was not heard.
enum class Failure {
    None,
    NotATone,  // the file passed the check but its decoder refused it
    NoOutput,  // no audio output (or the TAVONNE_AUDIO_OUT file cannot be written)
};

struct Result {
    Failure failure = Failure::None;
    std::string problem;  // one line, when `failure` is not None
};

// A tone decoded as it plays, in interleaved 16-bit frames.
class Tone {
  public:
    virtual ~Tone() = default;
    virtual int Rate() const = 0;
    virtual int Channels() const = 0;
    // Up to `frames` frames into `buffer`; 0 once it has ended.
    virtual std::size_t Read(int16_t* buffer, std::size_t frames) = 0;
    // From the start again; false when it cannot.
    virtual bool Rewind() = 0;
};

// Opens the tone of `bytes` (the whole file, already accepted by device::InspectTone as `info`).
std::unique_ptr<Tone> OpenTone(std::span<const unsigned char> bytes, const device::ToneInfo& info,
                               Result& result);

// Where the frames go: the file TAVONNE_AUDIO_OUT names (written beside its name and renamed into
// place once whole; never a FIFO or a device), else the machine's audio output.
class Output {
  public:
    virtual ~Output() = default;
    // False when the output failed; waits while the output is well ahead of what is heard.
    virtual bool Write(const int16_t* frames, std::size_t count) = 0;
    // Lets what was written be heard (or puts the file in place); returns at once when stopped.
    // False when the output failed.
    virtual bool Finish() = 0;
};

// `stopped` is asked often while waiting; when it says true, waits end and the sound stops.
std::unique_ptr<Output> OpenOutput(int rate, int channels, std::function<bool()> stopped,
                                   Result& result);

// Whether TAVONNE_AUDIO_OUT names a file to write instead of the audio output.
bool WritesToFile();

// How a tone is played: once, or again and again with `gapSeconds` of silence from the end of
// its sound to the start of the next, until `limitSeconds` have gone by (no limit when 0).
struct Schedule {
    bool repeat = false;
    double gapSeconds = 0;
    double limitSeconds = 0;
};

// Plays `tone` on `output` as `schedule` says, until `stopped` says true. `started` is called
// once the first frames are written. Counts the plays heard, for whoever reports them.
Result Play(Tone& tone, Output& output, const Schedule& schedule,
            const std::function<bool()>& stopped, const std::function<void()>& started,
            int* plays = nullptr);

}  // namespace sound
