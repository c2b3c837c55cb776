// Checking and describing WAV and Standard MIDI Files, with no trust in any length they state.
#include "device/tone_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "base/host_path.h"

namespace device {

namespace {

// A cursor over bytes that never reads past their end.
class Reader {
  public:
    explicit Reader(std::span<const unsigned char> bytes) : bytes_(bytes) {}

    size_t Left() const { return bytes_.size() - position_; }
    size_t Position() const { return position_; }

    std::optional<std::span<const unsigned char>> Take(size_t count) {
        if (count > Left())
            return std::nullopt;
        auto taken = bytes_.subspan(position_, count);
        position_ += count;
        return taken;
    }
    std::optional<uint8_t> Peek() const {
        if (Left() == 0)
            return std::nullopt;
        return bytes_[position_];
    }
    std::optional<uint8_t> U8() {
        auto byte = Peek();
        if (byte)
            ++position_;
        return byte;
    }
    std::optional<uint32_t> BigEndian(size_t size) { return Number(size, true); }
    std::optional<uint32_t> LittleEndian(size_t size) { return Number(size, false); }
    std::optional<std::string_view> Tag() {
        auto tag = Take(4);
        if (!tag)
            return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(tag->data()), 4);
    }

  private:
    std::optional<uint32_t> Number(size_t size, bool bigEndian) {
        auto taken = Take(size);
        if (!taken)
            return std::nullopt;
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i) {
            const uint32_t byte = (*taken)[bigEndian ? i : size - 1 - i];
            value = (value << 8) | byte;
        }
        return value;
    }

    std::span<const unsigned char> bytes_;
    size_t position_ = 0;
};

ToneInfo Fail(std::string problem) {
    ToneInfo info;
    info.problem = std::move(problem);
    return info;
}

std::string Quoted(std::string_view tag) {
    std::string shown;
    for (char c : tag)
        shown += (c >= 0x20 && c < 0x7F) ? c : '?';
    return "'" + shown + "'";
}

// --- WAV -------------------------------------------------------------------------------------

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// The rest of KSDATAFORMAT_SUBTYPE_PCM after its first two bytes (the format code 1).
constexpr unsigned char kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::optional<std::string> ReadWaveFormat(std::span<const unsigned char> chunk, WaveTone& wave) {
    Reader r(chunk);
    if (chunk.size() < 16)
        return "WAV format chunk too short";
    const uint16_t tag = *r.LittleEndian(2);
    wave.channels = *r.LittleEndian(2);
    wave.sampleRate = *r.LittleEndian(4);
    r.LittleEndian(4);  // bytes per second: derived below, never trusted
    const unsigned blockAlign = *r.LittleEndian(2);
    wave.bitsPerSample = *r.LittleEndian(2);
    if (tag == kFormatExtensible) {
        if (chunk.size() < 40)
            return "WAV extensible format chunk too short";
        const auto guid = chunk.subspan(24, 16);
        if (guid[0] != 1 || guid[1] != 0 || !std::equal(guid.begin() + 2, guid.end(), kPcmGuidTail))
            return "WAV data is not PCM";
    } else if (tag != kFormatPcm) {
        return "WAV data is not PCM (format " + std::to_string(tag) + ")";
    }
    const unsigned bits = wave.bitsPerSample;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return "WAV with " + std::to_string(bits) + "-bit samples";
    if (wave.channels == 0 || wave.sampleRate == 0)
        return "WAV without channels or sample rate";
    if (blockAlign != wave.channels * bits / 8)
        return "WAV block size does not match its format";
    return std::nullopt;
}

ToneInfo InspectWave(std::span<const unsigned char> bytes) {
    Reader header(bytes);
    header.Tag();
    const auto riffSize = header.LittleEndian(4);
    const auto form = header.Tag();
    if (!riffSize || !form)
        return Fail("truncated WAV header");
    if (*form != "WAVE")
        return Fail("RIFF file of form " + Quoted(*form));
    if (*riffSize < 4 || *riffSize > bytes.size() - 8)
        return Fail("truncated WAV file (RIFF size " + std::to_string(*riffSize) + ", file " +
                    std::to_string(bytes.size()) + " bytes)");

    ToneInfo info;
    bool haveFormat = false;
    std::optional<std::span<const unsigned char>> data;
    Reader r(bytes.subspan(12, *riffSize - 4));
    while (r.Left() > 0) {
        const auto id = r.Tag();
        const auto size = r.LittleEndian(4);
        if (!id || !size)
            return Fail("truncated WAV chunk header");
        const auto body = r.Take(*size);
        if (!body)
            return Fail("truncated WAV chunk " + Quoted(*id));
        // Chunks are padded to an even size; the last one may lack its pad byte.
        if (*size % 2 != 0 && r.Left() > 0)
            r.Take(1);
        if (*id == "fmt ") {
            if (haveFormat)
                return Fail("WAV with two format chunks");
            if (auto problem = ReadWaveFormat(*body, info.wave))
                return Fail(*problem);
            haveFormat = true;
        } else if (*id == "data") {
            if (data)
                return Fail("WAV with two data chunks");
            data = *body;
        }
    }
    if (!haveFormat)
        return Fail("WAV without format chunk");
    if (!data)
        return Fail("WAV without data chunk");
    const size_t frameSize = info.wave.channels * info.wave.bitsPerSample / 8;
    const size_t frames = data->size() / frameSize;
    if (frames == 0)
        return Fail("WAV without samples");
    info.wave.samples = data->first(frames * frameSize);
    info.kind = ToneKind::Wave;
    info.seconds = static_cast<double>(frames) / info.wave.sampleRate;
    return info;
}

// --- MIDI ------------------------------------------------------------------------------------

constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note, until a tempo event

struct TempoChange {
    uint64_t tick;
    uint32_t microsecondsPerQuarter;
};

// A variable-length quantity: at most four bytes of seven bits each.
std::optional<uint32_t> ReadQuantity(Reader& r, std::string& problem) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = r.U8();
        if (!byte) {
            problem = "cut short";
            return std::nullopt;
        }
        value = (value << 7) | (*byte & 0x7F);
        if ((*byte & 0x80) == 0)
            return value;
    }
    problem = "has a number longer than four bytes";
    return std::nullopt;
}

// Walks one MTrk chunk to its end-of-track event; returns the problem, if any.
std::optional<std::string> WalkTrack(std::span<const unsigned char> chunk, uint64_t& endTick,
                                     std::vector<TempoChange>& tempos, unsigned& notes) {
    Reader r(chunk);
    uint64_t tick = 0;
    uint8_t runningStatus = 0;
    std::string problem;
    while (true) {
        if (r.Left() == 0)
            return "ends without end-of-track";
        const auto delta = ReadQuantity(r, problem);
        if (!delta)
            return problem;
        tick += *delta;
        const auto first = r.Peek();
        if (!first)
            return "cut short";
        uint8_t status = *first;
        if (status & 0x80) {
            r.U8();
        } else if (runningStatus == 0) {
            return "has a data byte without status";
        } else {
            status = runningStatus;
        }

        if (status < 0xF0) {
            runningStatus = status;
            const uint8_t kind = status & 0xF0;
            const size_t count = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            uint8_t data[2] = {0, 0};
            for (size_t i = 0; i < count; ++i) {
                const auto byte = r.U8();
                if (!byte)
                    return "cut short";
                if (*byte & 0x80)
                    return "has a status byte where data belongs";
                data[i] = *byte;
            }
            if (kind == 0x90 && data[1] > 0)
                ++notes;
        } else if (status == 0xF0 || status == 0xF7) {
            const auto length = ReadQuantity(r, problem);
            if (!length)
                return problem;
            if (!r.Take(*length))
                return "cut short";
        } else if (status == 0xFF) {
            const auto type = r.U8();
            if (!type)
                return "cut short";
            const auto length = ReadQuantity(r, problem);
            if (!length)
                return problem;
            const auto body = r.Take(*length);
            if (!body)
                return "cut short";
            if (*type == 0x2F) {
                if (*length != 0)
                    return "has a malformed end-of-track";
                if (r.Left() != 0)
                    return "has data after end-of-track";
                endTick = tick;
                return std::nullopt;
            }
            if (*type == 0x51) {
                if (*length != 3)
                    return "has a malformed tempo";
                const auto& b = *body;
                tempos.push_back({tick, (uint32_t{b[0]} << 16) | (uint32_t{b[1]} << 8) | b[2]});
            }
        } else {
            char shown[8];
            snprintf(shown, sizeof shown, "0x%02X", status);
            return std::string("has the status byte ") + shown + ", not allowed in a file";
        }
    }
}

double MidiSeconds(uint16_t division, uint64_t endTick, std::vector<TempoChange>& tempos) {
    if (division & 0x8000) {
        // SMPTE time: frames per second (negative, 29 meaning 29.97) and ticks per frame.
        const int fps = -static_cast<int8_t>(division >> 8);
        const double framesPerSecond = fps == 29 ? 29.97 : fps;
        return endTick / (framesPerSecond * (division & 0xFF));
    }
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    double microseconds = 0;
    uint64_t tick = 0;
    uint32_t tempo = kDefaultTempo;
    for (const TempoChange& change : tempos) {
        if (change.tick >= endTick)
            break;
        microseconds += static_cast<double>(change.tick - tick) * tempo;
        tick = change.tick;
        tempo = change.microsecondsPerQuarter;
    }
    microseconds += static_cast<double>(endTick - tick) * tempo;
    return microseconds / division / 1e6;
}

ToneInfo InspectMidi(std::span<const unsigned char> bytes) {
    Reader r(bytes);
    r.Tag();
    const auto headerSize = r.BigEndian(4);
    if (!headerSize)
        return Fail("truncated MIDI header");
    if (*headerSize < 6)
        return Fail("MIDI header too short");
    const auto headerBody = r.Take(*headerSize);
    if (!headerBody)
        return Fail("truncated MIDI header");
    Reader header(*headerBody);
    ToneInfo info;
    MidiTone& midi = info.midi;
    midi.format = *header.BigEndian(2);
    const unsigned declaredTracks = *header.BigEndian(2);
    midi.division = static_cast<uint16_t>(*header.BigEndian(2));
    if (midi.format > 1)
        return Fail("MIDI format " + std::to_string(midi.format) + " is not supported");
    if (declaredTracks == 0)
        return Fail("MIDI file without tracks");
    if (midi.format == 0 && declaredTracks != 1)
        return Fail("MIDI format 0 with " + std::to_string(declaredTracks) + " tracks");
    if (midi.division & 0x8000) {
        const int fps = -static_cast<int8_t>(midi.division >> 8);
        if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || (midi.division & 0xFF) == 0)
            return Fail("MIDI time division is malformed");
    } else if (midi.division == 0) {
        return Fail("MIDI time division is zero");
    }

    uint64_t endTick = 0;
    std::vector<TempoChange> tempos;
    while (midi.trackCount < declaredTracks) {
        const std::string which = "MIDI track " + std::to_string(midi.trackCount + 1);
        if (r.Left() == 0)
            return Fail(which + " is missing");
        const auto id = r.Tag();
        const auto size = r.BigEndian(4);
        if (!id || !size)
            return Fail("truncated " + which);
        const auto body = r.Take(*size);
        if (!body)
            return Fail("truncated " + which);
        if (*id != "MTrk")
            continue;  // chunks of other kinds are skipped, as the format asks
        uint64_t trackEnd = 0;
        if (auto problem = WalkTrack(*body, trackEnd, tempos, midi.noteCount))
            return Fail(which + " " + *problem);
        endTick = std::max(endTick, trackEnd);
        ++midi.trackCount;
    }
    info.kind = ToneKind::Midi;
    info.seconds = MidiSeconds(midi.division, endTick, tempos);
    return info;
}

std::string OneDecimal(double value) {
    char text[32];
    snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

ToneFile ReadToneFile(const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    // Tones are small; anything bigger is not read at all.
    constexpr std::uintmax_t kLargestTone = 64 << 20;
    ToneFile loaded;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    loaded.exists = fs::exists(status);
    if (!loaded.exists) {
        loaded.problem = "no such file (" + text::PathToUtf8(file) + ")";
    } else if (fs::is_directory(status)) {
        loaded.problem = "cannot read (a folder)";
    } else if (const auto size = fs::file_size(file, error); error) {
        loaded.problem = "cannot read (" + error.message() + ")";
    } else if (size > kLargestTone) {
        loaded.problem = "cannot read (larger than any tone)";
    } else {
        loaded.bytes.resize(size);
        std::ifstream in(file, std::ios::binary);
        in.read(reinterpret_cast<char*>(loaded.bytes.data()),
                static_cast<std::streamsize>(loaded.bytes.size()));
        if (!in)
            loaded.problem = "cannot read (" + text::PathToUtf8(file) + ")";
    }
    return loaded;
}

ToneInfo InspectTone(std::span<const unsigned char> bytes) {
    const std::string_view start(reinterpret_cast<const char*>(bytes.data()),
                                 std::min<size_t>(bytes.size(), 4));
    if (start == "RIFF")
        return InspectWave(bytes);
    if (start == "MThd")
        return InspectMidi(bytes);
    if (bytes.empty())
        return Fail("empty file");
    return Fail("neither WAV nor MIDI");
}

std::string DescribeTone(const ToneInfo& info) {
    switch (info.kind) {
        case ToneKind::Wave: {
            const WaveTone& w = info.wave;
            const std::string channels = w.channels == 1 ? "mono"
                                         : w.channels == 2
                                             ? "stereo"
                                             : std::to_string(w.channels) + " channels";
            return "WAV PCM " + std::to_string(w.sampleRate) + " Hz " +
                   std::to_string(w.bitsPerSample) + "-bit " + channels + ", " +
                   OneDecimal(info.seconds) + " s";
        }
        case ToneKind::Midi: {
            const MidiTone& m = info.midi;
            return "MIDI format " + std::to_string(m.format) + ", " + std::to_string(m.trackCount) +
                   (m.trackCount == 1 ? " track, " : " tracks, ") + OneDecimal(info.seconds) + " s";
        }
        case ToneKind::None:
            break;
    }
    return "not a tone file (" + info.problem + ")";
}

}  // namespace device
