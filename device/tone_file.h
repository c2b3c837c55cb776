// Reading tone files: whether bytes are a whole, sound WAV or Standard MIDI File, and what it
// holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace device {

enum class ToneKind { None, Wave, Midi };

// What a PCM WAV file holds; `samples` points into the inspected bytes (whole frames only).
struct WaveTone {
    unsigned channels = 0;
    unsigned sampleRate = 0;
    unsigned bitsPerSample = 0;
    std::span<const unsigned char> samples;
};

// What a Standard MIDI File holds. `division` is the header's raw time division word.
struct MidiTone {
    unsigned format = 0;
    unsigned trackCount = 0;
    uint16_t division = 0;
    unsigned noteCount = 0;
};

struct ToneInfo {
    ToneKind kind = ToneKind::None;  // None: not playable, and `problem` says why
    std::string problem;
    double seconds = 0;
    WaveTone wave;
    MidiTone midi;

    bool Playable() const { return kind != ToneKind::None; }
};

// A tone file's bytes, or why there are none.
struct ToneFile {
    std::vector<unsigned char> bytes;
    std::string problem;  // e.g. "no such file (...)", "cannot read (a folder)"
    bool exists = false;  // something is there under that name, a tone or not
};
// Reads a whole file, refusing folders and anything far larger than a tone.
ToneFile ReadToneFile(const std::filesystem::path& file);

// Walks the whole file (every RIFF chunk, every MIDI chunk and event) and rejects anything
// truncated, malformed or of an unsupported kind.
ToneInfo InspectTone(std::span<const unsigned char> bytes);

// One line for the log, e.g. "MIDI format 0, 1 track, 3.2 s",
// "WAV PCM 11025 Hz 16-bit mono, 1.6 s" or "not a tone file (truncated MIDI track 1)".
std::string DescribeTone(const ToneInfo& info);

}  // namespace device
