// The phone's tones: the files the build composed, the check that judges tone files, and
// installing the tones into a device folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_folder.h"
#include "device/tone_file.h"
#include "device/tones.h"
#include "base/debug.h"
#include "base/text.h"
#include "support/files.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// The paths behind the phone's 27 built-in tones, in the order the phone lists them.
const std::u16string_view kBuiltInPaths[] = {
    u"\\Windows\\Alarm1.mid",          u"\\Windows\\AlarmXtra2.mid",
    u"\\Windows\\AlarmXtra2-Slow.mid", u"\\Windows\\Alarm4.mid",
    u"\\Windows\\NewTune9.mid",        u"\\Windows\\Notify.mid",
    u"\\Windows\\BatteryLow1.mid",     u"\\Windows\\NewTune8.mid",
    u"\\Windows\\NewTune1.mid",        u"\\Windows\\Callwait.mid",
    u"\\Windows\\PegConnect2.mid",     u"\\Windows\\RecStart.mid",
    u"\\Windows\\PegDisconnect.mid",   u"\\Windows\\Spooky.mid",
    u"\\Windows\\RecEnd.mid",          u"\\Windows\\happy.mid",
    u"\\Windows\\kelly.mid",           u"\\Windows\\LaDiDaDi.mid",
    u"\\Windows\\NewTune6.mid",        u"\\Windows\\NewTune7.mid",
    u"\\Windows\\Lowdown.mid",         u"\\Windows\\NewTune7.mid",
    u"\\Windows\\Reggae.mid",          u"\\Windows\\Robatica.mid",
    u"\\Windows\\Standard.wav",        u"\\Windows\\Strum.mid",
    u"\\Windows\\genericRing2.mid",
};
constexpr std::u16string_view kSounds = u"\\IPSM\\Application Data\\Sounds\\";

bool StartsWith(std::u16string_view s, std::u16string_view start) {
    return s.substr(0, start.size()) == start;
}

bool EndsWith(std::u16string_view s, std::u16string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

const device::PhoneTone* Find(std::u16string_view devicePath) {
    for (const device::PhoneTone& tone : device::PhoneTones()) {
        if (tone.devicePath == devicePath)
            return &tone;
    }
    return nullptr;
}

std::string Name(const device::PhoneTone& tone) {
    return text::ToUtf8(tone.devicePath);
}

device::ToneInfo Inspect(const Bytes& bytes) {
    return device::InspectTone(bytes);
}

// --- Building test files ---------------------------------------------------------------------

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes BigEndian(uint32_t value, int size) {
    Bytes bytes;
    for (int i = size - 1; i >= 0; --i)
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    return bytes;
}

Bytes LittleEndian(uint32_t value, int size) {
    Bytes bytes;
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    return bytes;
}

Bytes Tag(std::string_view tag) {
    return Bytes(tag.begin(), tag.end());
}

// A MIDI chunk; `statedSize` lets a test give it a size that lies.
Bytes MidiChunk(std::string_view id, const Bytes& body,
                std::optional<uint32_t> statedSize = std::nullopt) {
    return Cat({Tag(id), BigEndian(statedSize.value_or(body.size()), 4), body});
}

Bytes MidiHeader(unsigned format, unsigned tracks, unsigned division) {
    return MidiChunk("MThd",
                     Cat({BigEndian(format, 2), BigEndian(tracks, 2), BigEndian(division, 2)}));
}

const Bytes kEndOfTrack = {0x00, 0xFF, 0x2F, 0x00};
// Middle C for 96 ticks, its end written with running status, then the end of the track.
const Bytes kNoteTrack = {0x00, 0x90, 0x3C, 0x64, 0x60, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00};

Bytes SimpleMidi(const Bytes& track) {
    return Cat({MidiHeader(0, 1, 96), MidiChunk("MTrk", track)});
}

// A RIFF chunk, padded to an even size; `statedSize` lets a test give it a size that lies.
Bytes RiffChunk(std::string_view id, const Bytes& body,
                std::optional<uint32_t> statedSize = std::nullopt) {
    Bytes chunk = Cat({Tag(id), LittleEndian(statedSize.value_or(body.size()), 4), body});
    if (body.size() % 2 != 0)
        chunk.push_back(0);
    return chunk;
}

Bytes WaveFormat(unsigned tag, unsigned channels, unsigned rate, unsigned bits,
                 std::optional<unsigned> blockAlign = std::nullopt) {
    const unsigned align = blockAlign.value_or(channels * bits / 8);
    return RiffChunk("fmt ", Cat({LittleEndian(tag, 2), LittleEndian(channels, 2),
                                  LittleEndian(rate, 4), LittleEndian(rate * align, 4),
                                  LittleEndian(align, 2), LittleEndian(bits, 2)}));
}

Bytes Wave(std::initializer_list<Bytes> chunks, std::optional<uint32_t> statedSize = {}) {
    const Bytes body = Cat(chunks);
    return Cat(
        {Tag("RIFF"), LittleEndian(statedSize.value_or(body.size() + 4), 4), Tag("WAVE"), body});
}

Bytes Silence(size_t bytes) {
    return Bytes(bytes, 0);
}

// --- The composed tones ----------------------------------------------------------------------

TEST(PhoneTones, CarryTheFileOfEveryBuiltInTone) {
    std::set<std::u16string_view> windowsTones;
    for (const device::PhoneTone& tone : device::PhoneTones()) {
        if (StartsWith(tone.devicePath, u"\\Windows\\")) {
            EXPECT_TRUE(windowsTones.insert(tone.devicePath).second) << Name(tone);
        }
    }
    for (std::u16string_view path : kBuiltInPaths)
        EXPECT_NE(Find(path), nullptr) << text::ToUtf8(path);
    // Two built-in tones share NewTune7.mid.
    EXPECT_EQ(windowsTones.size(), 26u);
}

TEST(PhoneTones, IncludeSampleTonesForTheSoundsFolder) {
    int waves = 0;
    int midis = 0;
    int withBlanks = 0;
    for (const device::PhoneTone& tone : device::PhoneTones()) {
        if (!StartsWith(tone.devicePath, kSounds))
            continue;
        const std::u16string_view name = tone.devicePath.substr(kSounds.size());
        EXPECT_EQ(name.find(u'\\'), name.npos) << Name(tone);
        waves += EndsWith(name, u".wav");
        midis += EndsWith(name, u".mid");
        withBlanks += name.find(u' ') != name.npos;
    }
    EXPECT_GE(waves, 1);
    EXPECT_GE(midis, 1);
    EXPECT_GE(withBlanks, 1);
}

TEST(PhoneTones, AreWholeTonesOfTheKindTheirNameSaysAFewSecondsLong) {
    for (const device::PhoneTone& tone : device::PhoneTones()) {
        const device::ToneInfo info = device::InspectTone(tone.bytes);
        ASSERT_TRUE(info.Playable()) << Name(tone) << ": " << info.problem;
        const auto expected =
            EndsWith(tone.devicePath, u".wav") ? device::ToneKind::Wave : device::ToneKind::Midi;
        EXPECT_EQ(info.kind, expected) << Name(tone);
        EXPECT_GE(info.seconds, 1.0) << Name(tone);
        EXPECT_LE(info.seconds, 8.0) << Name(tone);
        if (info.kind == device::ToneKind::Midi) {
            EXPECT_GT(info.midi.noteCount, 3u) << Name(tone);
        }
    }
}

TEST(PhoneTones, StandardIsAShortMonoPcmRing) {
    const device::PhoneTone* standard = Find(u"\\Windows\\Standard.wav");
    ASSERT_NE(standard, nullptr);
    const device::ToneInfo info = device::InspectTone(standard->bytes);
    ASSERT_EQ(info.kind, device::ToneKind::Wave) << info.problem;
    EXPECT_EQ(info.wave.channels, 1u);
    EXPECT_EQ(info.wave.bitsPerSample, 16u);
    EXPECT_TRUE(info.wave.sampleRate == 8000 || info.wave.sampleRate == 11025);
    EXPECT_GE(info.seconds, 1.0);
    EXPECT_LE(info.seconds, 2.0);
    // It rings: the samples are not silence.
    const auto samples = info.wave.samples;
    EXPECT_TRUE(std::any_of(samples.begin(), samples.end(), [](unsigned char b) { return b; }));
}

TEST(PhoneTones, AreAllDifferent) {
    const auto tones = device::PhoneTones();
    for (size_t i = 0; i < tones.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            EXPECT_FALSE(std::ranges::equal(tones[i].bytes, tones[j].bytes))
                << Name(tones[i]) << " and " << Name(tones[j]);
        }
    }
}

TEST(PhoneTones, CutShortAreRejected) {
    for (const device::PhoneTone& tone : device::PhoneTones()) {
        const size_t size = tone.bytes.size();
        const bool wave = EndsWith(tone.devicePath, u".wav");
        // Every shorter length of a MIDI file; for a WAV file, every length up to past its
        // headers, then a spread of lengths.
        for (size_t length = 0; length < size;
             length += (wave && length >= 256 ? size / 97 + 1 : 1)) {
            const device::ToneInfo info = device::InspectTone(tone.bytes.first(length));
            EXPECT_FALSE(info.Playable()) << Name(tone) << " cut to " << length << " bytes";
        }
    }
}

// --- The check, on files made by hand --------------------------------------------------------

TEST(ToneCheck, MeasuresMidiTimeThroughTempoChanges) {
    // 96 ticks a quarter: 192 ticks at 0.5 s a quarter, then 192 at 0.25 s a quarter.
    const Bytes conductor = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,        // 500000 us
                             0x81, 0x40, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,  // +192: 250000 us
                             0x81, 0x40, 0xFF, 0x2F, 0x00};                   // +192: end
    const Bytes file =
        Cat({MidiHeader(1, 2, 96), MidiChunk("MTrk", conductor), MidiChunk("MTrk", kNoteTrack)});
    const device::ToneInfo info = Inspect(file);
    ASSERT_EQ(info.kind, device::ToneKind::Midi) << info.problem;
    EXPECT_EQ(info.midi.format, 1u);
    EXPECT_EQ(info.midi.trackCount, 2u);
    EXPECT_EQ(info.midi.noteCount, 1u);
    EXPECT_DOUBLE_EQ(info.seconds, 1.5);
    EXPECT_EQ(device::DescribeTone(info), "MIDI format 1, 2 tracks, 1.5 s");
}

TEST(ToneCheck, MeasuresSmpteTime) {
    // 25 frames a second, 40 ticks a frame: 1000 ticks a second; the track lasts 2000 ticks.
    const Bytes track = {0x8F, 0x50, 0xFF, 0x2F, 0x00};
    const device::ToneInfo info =
        Inspect(Cat({MidiHeader(0, 1, 0xE728), MidiChunk("MTrk", track)}));
    ASSERT_EQ(info.kind, device::ToneKind::Midi) << info.problem;
    EXPECT_DOUBLE_EQ(info.seconds, 2.0);
}

TEST(ToneCheck, AcceptsRunningStatusSysExAndForeignChunks) {
    const Bytes track = {0x00, 0xC0, 0x05,                          // program change: one data byte
                         0x00, 0xF0, 0x02, 0x7E, 0xF7,              // system exclusive
                         0x00, 0x90, 0x40, 0x50, 0x10, 0x43, 0x50,  // running status
                         0x10, 0x40, 0x00, 0x00, 0x43, 0x00, 0x00, 0xFF, 0x2F, 0x00};
    const Bytes file =
        Cat({MidiHeader(0, 1, 96), MidiChunk("XFIH", {1, 2, 3}), MidiChunk("MTrk", track)});
    const device::ToneInfo info = Inspect(file);
    ASSERT_EQ(info.kind, device::ToneKind::Midi) << info.problem;
    EXPECT_EQ(info.midi.noteCount, 2u);
    EXPECT_EQ(device::DescribeTone(info), "MIDI format 0, 1 track, 0.2 s");
}

TEST(ToneCheck, RejectsBrokenMidi) {
    const Bytes good = SimpleMidi(kNoteTrack);
    ASSERT_TRUE(Inspect(good).Playable());
    struct Case {
        const char* what;
        Bytes file;
    };
    const Case cases[] = {
        {"wrong magic", Cat({Tag("MThx"), Bytes(good.begin() + 4, good.end())})},
        {"header too short", Cat({MidiChunk("MThd", {0, 0, 0, 1}), MidiChunk("MTrk", kNoteTrack)})},
        {"header longer than the file", MidiChunk("MThd", {0, 0, 0, 1, 0, 96}, 4000)},
        {"track longer than the file",
         Cat({MidiHeader(0, 1, 96), MidiChunk("MTrk", kNoteTrack, 200)})},
        {"track shorter than its events",
         Cat({MidiHeader(0, 1, 96), MidiChunk("MTrk", kNoteTrack, 7), Bytes{0, 0xFF, 0x2F, 0}})},
        {"no end of track", SimpleMidi({0x00, 0x90, 0x3C, 0x64, 0x60, 0x3C, 0x00})},
        {"data after end of track", SimpleMidi(Cat({kNoteTrack, Bytes{0x00, 0x90, 0x3C, 0x64}}))},
        {"data without status", SimpleMidi(Cat({Bytes{0x00, 0x3C, 0x64}, kEndOfTrack}))},
        {"status byte as data", SimpleMidi(Cat({Bytes{0x00, 0x90, 0x3C, 0x90}, kEndOfTrack}))},
        {"delta of five bytes", SimpleMidi(Cat({Bytes{0x81, 0x81, 0x81, 0x81, 0x01}, kNoteTrack}))},
        {"sysex longer than the track",
         SimpleMidi(Cat({Bytes{0x00, 0xF0, 0x40, 0x01}, kEndOfTrack}))},
        {"malformed end of track", SimpleMidi({0x00, 0xFF, 0x2F, 0x01, 0x00})},
        {"malformed tempo",
         SimpleMidi(Cat({Bytes{0x00, 0xFF, 0x51, 0x02, 0x01, 0x02}, kEndOfTrack}))},
        {"system common status", SimpleMidi(Cat({Bytes{0x00, 0xF4}, kEndOfTrack}))},
        {"format 0 with two tracks",
         Cat({MidiHeader(0, 2, 96), MidiChunk("MTrk", kNoteTrack), MidiChunk("MTrk", kNoteTrack)})},
        {"format 2", Cat({MidiHeader(2, 1, 96), MidiChunk("MTrk", kNoteTrack)})},
        {"no tracks", MidiHeader(1, 0, 96)},
        {"fewer tracks than declared", Cat({MidiHeader(1, 2, 96), MidiChunk("MTrk", kNoteTrack)})},
        {"zero division", Cat({MidiHeader(0, 1, 0), MidiChunk("MTrk", kNoteTrack)})},
        {"bad frame rate", Cat({MidiHeader(0, 1, 0xE928), MidiChunk("MTrk", kNoteTrack)})},
    };
    for (const Case& c : cases) {
        const device::ToneInfo info = Inspect(c.file);
        EXPECT_FALSE(info.Playable()) << c.what;
        EXPECT_FALSE(info.problem.empty()) << c.what;
    }
}

// However few its bytes, a tone that plays longer than ten minutes is no ring tone.
TEST(ToneCheck, RejectsTonesLongerThanTenMinutes) {
    // One tick a quarter note, at the default half second a quarter until a tempo says otherwise;
    // the track ends after its events and a last delta.
    const auto lasting = [](const Bytes& events) {
        const Bytes track = Cat({events, Bytes{0xFF, 0x2F, 0x00}});
        return Inspect(Cat({MidiHeader(0, 1, 1), MidiChunk("MTrk", track)}));
    };
    EXPECT_EQ(device::DescribeTone(lasting({0x89, 0x2E})), "MIDI format 0, 1 track, 599.0 s");
    EXPECT_EQ(device::DescribeTone(lasting({0x89, 0x32})),
              "not a tone file (longer than 10 minutes: 601.0 s)");
    // 0xFFFFFF microseconds a quarter, for 0x0FFFFFFF quarters.
    const device::ToneInfo years =
        lasting({0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    EXPECT_FALSE(years.Playable());
    EXPECT_EQ(years.problem.rfind("longer than 10 minutes: ", 0), 0u) << years.problem;
}

TEST(ToneCheck, ReadsPcmWaveWithOtherChunks) {
    // 22050 Hz stereo 16-bit: 4 bytes a frame; 11025 frames are half a second. An odd-sized
    // chunk before the data is padded.
    const Bytes file = Wave({WaveFormat(1, 2, 22050, 16), RiffChunk("LIST", {1, 2, 3}),
                             RiffChunk("data", Silence(11025 * 4 + 3))});
    const device::ToneInfo info = Inspect(file);
    ASSERT_EQ(info.kind, device::ToneKind::Wave) << info.problem;
    EXPECT_EQ(info.wave.channels, 2u);
    EXPECT_EQ(info.wave.sampleRate, 22050u);
    EXPECT_EQ(info.wave.bitsPerSample, 16u);
    EXPECT_EQ(info.wave.samples.size(), 11025u * 4);  // whole frames only
    EXPECT_DOUBLE_EQ(info.seconds, 0.5);
    EXPECT_EQ(device::DescribeTone(info), "WAV PCM 22050 Hz 16-bit stereo, 0.5 s");
}

TEST(ToneCheck, ReadsExtensiblePcmWave) {
    Bytes format = Cat({LittleEndian(0xFFFE, 2), LittleEndian(1, 2), LittleEndian(8000, 4),
                        LittleEndian(16000, 4), LittleEndian(2, 2), LittleEndian(16, 2),
                        LittleEndian(22, 2), LittleEndian(16, 2), LittleEndian(4, 4),
                        Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00,
                              0xAA, 0x00, 0x38, 0x9B, 0x71}});
    const Bytes file = Wave({RiffChunk("fmt ", format), RiffChunk("data", Silence(16000))});
    const device::ToneInfo info = Inspect(file);
    ASSERT_EQ(info.kind, device::ToneKind::Wave) << info.problem;
    EXPECT_DOUBLE_EQ(info.seconds, 1.0);
    format[24] = 0x03;  // IEEE float instead of PCM
    EXPECT_FALSE(
        Inspect(Wave({RiffChunk("fmt ", format), RiffChunk("data", Silence(16000))})).Playable());
}

TEST(ToneCheck, RejectsBrokenWave) {
    const Bytes format = WaveFormat(1, 1, 8000, 8);
    const Bytes data = RiffChunk("data", Silence(800));
    ASSERT_TRUE(Inspect(Wave({format, data})).Playable());
    struct Case {
        const char* what;
        Bytes file;
    };
    const Case cases[] = {
        {"RIFF size beyond the file", Wave({format, data}, 5000)},
        {"RIFF size too small for its form", Wave({}, 2)},
        {"data size beyond the file", Wave({format, RiffChunk("data", Silence(800), 900)})},
        {"chunk header cut short", Wave({format, data, Bytes{'d', 'a'}})},
        {"not a WAVE form", Cat({Tag("RIFF"), LittleEndian(4, 4), Tag("AVI ")})},
        {"no format chunk", Wave({data})},
        {"no data chunk", Wave({format})},
        {"two format chunks", Wave({format, format, data})},
        {"format chunk too short", Wave({RiffChunk("fmt ", Silence(14)), data})},
        {"float samples", Wave({WaveFormat(3, 1, 8000, 32), data})},
        {"12-bit samples", Wave({WaveFormat(1, 1, 8000, 12, 2), data})},
        {"block size that does not fit", Wave({WaveFormat(1, 2, 8000, 16, 2), data})},
        {"no channels", Wave({WaveFormat(1, 0, 8000, 16, 0), data})},
        {"no samples", Wave({format, RiffChunk("data", {})})},
        {"header cut short", Bytes{'R', 'I', 'F', 'F', 8, 0}},
    };
    for (const Case& c : cases) {
        const device::ToneInfo info = Inspect(c.file);
        EXPECT_FALSE(info.Playable()) << c.what;
        EXPECT_FALSE(info.problem.empty()) << c.what;
    }
}

TEST(ToneCheck, RejectsWhatIsNeitherWaveNorMidi) {
    EXPECT_EQ(device::DescribeTone(Inspect({})), "not a tone file (empty file)");
    EXPECT_EQ(device::DescribeTone(Inspect(Tag("hello, world"))),
              "not a tone file (neither WAV nor MIDI)");
    EXPECT_FALSE(Inspect(Tag("MTh")).Playable());
}

// --- Installing ------------------------------------------------------------------------------

class InstallTones : public DeviceTest {
  protected:
    fs::path Root() const { return device::FileSystemRoot(); }

    static fs::path HostPath(const fs::path& root, std::u16string_view devicePath) {
        std::string relative = text::ToUtf8(devicePath.substr(1));
        std::replace(relative.begin(), relative.end(), '\\', '/');
        return root / relative;
    }

    static Bytes Read(const fs::path& file) { return ReadBytes(file); }

    static void Write(const fs::path& file, std::string_view content) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }

    static std::vector<fs::path> Everything(const fs::path& root) {
        std::vector<fs::path> entries;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            entries.push_back(entry.path());
        std::sort(entries.begin(), entries.end());
        return entries;
    }
};

TEST_F(InstallTones, WritesEveryToneWhereMissing) {
    ASSERT_TRUE(device::InstallPhoneTones(Root()));
    for (const device::PhoneTone& tone : device::PhoneTones()) {
        const fs::path file = HostPath(Root(), tone.devicePath);
        ASSERT_TRUE(fs::is_regular_file(file)) << file;
        EXPECT_TRUE(std::ranges::equal(Read(file), tone.bytes)) << file;
    }
    for (std::u16string_view path : kBuiltInPaths)
        EXPECT_TRUE(fs::is_regular_file(HostPath(Root(), path))) << text::ToUtf8(path);
}

TEST_F(InstallTones, NeverOverwritesAFile) {
    const fs::path mine = Root() / "Windows" / "Alarm1.mid";
    Write(mine, "my own alarm");
    ASSERT_TRUE(device::InstallPhoneTones(Root()));
    const Bytes kept = Read(mine);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "my own alarm");
    EXPECT_TRUE(fs::is_regular_file(Root() / "Windows" / "Alarm4.mid"));
}

TEST_F(InstallTones, MatchesExistingNamesInAnyLetterCase) {
    const fs::path mine = Root() / "WINDOWS" / "alarm1.MID";
    Write(mine, "mine");
    ASSERT_TRUE(device::InstallPhoneTones(Root()));
    EXPECT_FALSE(fs::exists(Root() / "Windows"));
    EXPECT_FALSE(fs::exists(Root() / "WINDOWS" / "Alarm1.mid"));
    EXPECT_EQ(Read(mine).size(), 4u);
    EXPECT_TRUE(fs::is_regular_file(Root() / "WINDOWS" / "Notify.mid"));
}

TEST_F(InstallTones, ASecondRunChangesNothingAndLeavesNoTemporaryFiles) {
    ASSERT_TRUE(device::InstallPhoneTones(Root()));
    const auto before = Everything(Root());
    ASSERT_TRUE(device::InstallPhoneTones(Root()));
    EXPECT_EQ(Everything(Root()), before);
    for (const fs::path& entry : before)
        EXPECT_NE(entry.filename().string()[0], '.') << entry;
}

TEST_F(InstallTones, ReportsWhatItCannotMakeAndInstallsTheRest) {
    Write(Root() / "Windows", "a file where the folder belongs");
    const fs::path debugLog = device.Folder().parent_path() / "debug.log";
    debug::SendToFile(debugLog);
    const bool installed = device::InstallPhoneTones(Root());
    debug::SendToStandardError();
    EXPECT_FALSE(installed);
    const Bytes log = Read(debugLog);
    EXPECT_NE(std::string(log.begin(), log.end()).find("device: cannot"), std::string::npos);
    EXPECT_TRUE(
        fs::is_regular_file(Root() / "IPSM" / "Application Data" / "Sounds" / "Petite valse.mid"));
}

}  // namespace
