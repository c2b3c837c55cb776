// The tone composer: a style per tone, the details drawn from its seed, written as a MIDI file.
#include "device/tones/compose.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace tonegen {

uint64_t Rng::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int Rng::Between(int lo, int hi) {
    const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
    return lo + static_cast<int>(Next() % span);
}

uint64_t SeedOf(std::string_view name) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

namespace {

// General MIDI programs (instruments) the tones use.
enum Program : uint8_t {
    kPiano = 0,
    kElectricPiano = 4,
    kHarpsichord = 6,
    kCelesta = 8,
    kGlockenspiel = 9,
    kMusicBox = 10,
    kVibraphone = 11,
    kMarimba = 12,
    kXylophone = 13,
    kDrawbarOrgan = 16,
    kChurchOrgan = 19,
    kAccordion = 21,
    kHarmonica = 22,
    kNylonGuitar = 24,
    kSteelGuitar = 25,
    kJazzGuitar = 26,
    kCleanGuitar = 27,
    kAcousticBass = 32,
    kFingerBass = 33,
    kSynthBass = 38,
    kHarp = 46,
    kStrings = 48,
    kChoir = 52,
    kTenorSax = 66,
    kFlute = 73,
    kOcarina = 79,
    kSquareLead = 80,
    kSawLead = 81,
    kWarmPad = 89,
    kKalimba = 108,
    kSteelDrums = 114,
};

constexpr uint8_t kDrumChannel = 9;
constexpr int kSideStick = 37;
constexpr int kClosedHat = 42;

using Scale = std::vector<int>;
const Scale kMajor{0, 2, 4, 5, 7, 9, 11};
const Scale kMinor{0, 2, 3, 5, 7, 8, 10};
const Scale kHarmonicMinor{0, 2, 3, 5, 7, 8, 11};
const Scale kDorian{0, 2, 3, 5, 7, 9, 10};
const Scale kMixolydian{0, 2, 4, 5, 7, 9, 10};
const Scale kPentatonic{0, 2, 4, 7, 9};
const Scale kBlues{0, 3, 5, 6, 7, 10};
const Scale kWholeTone{0, 2, 4, 6, 8, 10};

// The key of a scale degree (any whole number; 7 is the octave of a seven-note scale).
int Pitch(const Scale& scale, int root, int degree) {
    const int size = static_cast<int>(scale.size());
    const int octave = degree >= 0 ? degree / size : -((-degree + size - 1) / size);
    return root + 12 * octave + scale[degree - octave * size];
}

struct Note {
    uint32_t start;
    uint32_t length;
    int key;
    int velocity;
};

struct Part {
    std::string name;
    uint8_t channel;
    uint8_t program;
    std::vector<Note> notes;

    void Add(uint32_t start, uint32_t length, int key, int velocity) {
        notes.push_back({start, std::max<uint32_t>(length, 1), key, velocity});
    }
};

struct Song {
    uint16_t ticksPerQuarter = 480;
    double bpm = 120;
    unsigned beatsPerBar = 4;
    uint32_t tail = 0;     // silence after the last note, so that it can ring
    uint8_t volume = 100;  // every channel's volume (controller 7); General MIDI starts at 100
    std::vector<Part> parts;

    uint32_t Beat() const { return ticksPerQuarter; }
    uint32_t Eighth() const { return ticksPerQuarter / 2; }
    uint32_t Sixteenth() const { return ticksPerQuarter / 4; }
    uint32_t Bar() const { return ticksPerQuarter * beatsPerBar; }
};

// Chord roots as scale degrees, one per slot of `ticks`.
struct Harmony {
    std::vector<int> roots;
    uint32_t ticks;

    int At(uint32_t tick) const { return roots[std::min<size_t>(tick / ticks, roots.size() - 1)]; }
};

const std::vector<int> kProgressions[] = {
    {0, 3, 4, 0}, {0, 5, 3, 4}, {0, 4, 5, 3}, {0, 3, 0, 4}, {5, 3, 0, 4}, {0, 1, 4, 0},
};

bool IsChordTone(int degree, int chord) {
    const int offset = ((degree - chord) % 7 + 7) % 7;
    return offset == 0 || offset == 2 || offset == 4;
}

// The nearest degree to `degree` (itself first, then one step away) that `accept` takes.
template <typename Accept>
int Nearest(int degree, Accept accept) {
    for (int distance = 0; distance < 4; ++distance) {
        if (accept(degree - distance))
            return degree - distance;
        if (accept(degree + distance))
            return degree + distance;
    }
    return degree;
}

using Rhythm = std::vector<int>;  // note lengths in eighths, filling one bar

const Rhythm kRhythmsFour[] = {
    {2, 2, 2, 2},       {1, 1, 2, 2, 2}, {3, 1, 2, 2}, {2, 1, 1, 2, 2},
    {1, 1, 1, 1, 2, 2}, {2, 2, 4},       {3, 1, 3, 1}, {1, 1, 2, 1, 1, 2},
};
const Rhythm kEndingsFour[] = {{2, 2, 4}, {4, 4}, {1, 1, 2, 4}, {2, 1, 1, 4}};
const Rhythm kRhythmsThree[] = {{6}, {4, 2}, {2, 2, 2}, {2, 4}, {3, 1, 2}, {2, 1, 1, 2}};
const Rhythm kEndingsThree[] = {{6}, {4, 2}, {2, 4}};

// A tune on a seven-note scale: a random walk that lands on chord tones on the beats and on the
// key note at the end.
template <size_t R, size_t E>
void Tune(Rng& rng, Part& part, const Scale& scale, int root, const Harmony& harmony,
          const Song& song, unsigned bars, const Rhythm (&rhythms)[R], const Rhythm (&endings)[E],
          int velocity) {
    const int starts[] = {0, 2, 4, 7};
    const int steps[] = {-2, -1, -1, 0, 1, 1, 2, 3, -3, 1, -1};
    int degree = rng.Pick(starts);
    bool first = true;
    for (unsigned bar = 0; bar < bars; ++bar) {
        const bool last = bar + 1 == bars;
        const Rhythm& rhythm = last ? rng.Pick(endings) : rng.Pick(rhythms);
        uint32_t tick = bar * song.Bar();
        for (size_t i = 0; i < rhythm.size(); ++i) {
            if (!first) {
                degree += rng.Pick(steps);
                if (degree > 9)
                    degree -= 3;
                if (degree < -2)
                    degree += 3;
            }
            first = false;
            const int chord = harmony.At(tick);
            if (last && i + 1 == rhythm.size())
                degree = Nearest(degree, [](int d) { return ((d % 7) + 7) % 7 == 0; });
            else if (tick % song.Beat() == 0)
                degree = Nearest(degree, [chord](int d) { return IsChordTone(d, chord); });
            const uint32_t length = rhythm[i] * song.Eighth();
            const int accent = tick % song.Bar() == 0 ? 12 : 0;
            part.Add(tick, length - song.Sixteenth() / 4, Pitch(scale, root, degree),
                     velocity + accent);
            tick += length;
        }
    }
}

unsigned BarsFor(const Song& song, double seconds, unsigned lo, unsigned hi) {
    const double barSeconds = song.beatsPerBar * 60.0 / song.bpm;
    const unsigned bars = static_cast<unsigned>(seconds / barSeconds + 0.5);
    return std::clamp(bars, lo, hi);
}

// The `index`th note of the triad on `chord`, counting upward from its root across octaves.
int ChordDegree(int chord, int index) {
    return chord + 2 * index;
}

void ComposeAlarm(Rng& rng, Song& song) {
    song.bpm = rng.Between(124, 144);
    const uint8_t programs[] = {kSquareLead, kXylophone, kGlockenspiel, kSawLead, kVibraphone};
    Part part{"Alarm", 0, rng.Pick(programs), {}};
    const Scale* scales[] = {&kMajor, &kMixolydian, &kDorian};
    const Scale& scale = *rng.Pick(scales);
    const int root = rng.Between(72, 79);
    const int starts[] = {0, 2, 4};
    const int steps[] = {-2, -1, 1, 2, 3, 4};
    std::vector<int> figure{rng.Pick(starts)};
    const int figureLength = rng.Between(3, 4);
    while (static_cast<int>(figure.size()) < figureLength)
        figure.push_back(figure.back() + rng.Pick(steps));
    const int shifts[] = {0, 1, 2, 3};
    const int secondShift = rng.Pick(shifts);
    uint32_t tick = 0;
    for (int group = 0; group < 2; ++group) {
        const int shift = group == 1 ? secondShift : 0;
        for (int repeat = 0; repeat < 3; ++repeat) {
            for (size_t i = 0; i < figure.size(); ++i) {
                part.Add(tick + i * song.Sixteenth(), song.Sixteenth() - 20,
                         Pitch(scale, root, figure[i] + shift), i == 0 ? 110 : 96);
            }
            tick += song.Beat();
        }
        tick += song.Beat();
    }
    song.tail = song.Eighth();
    song.parts.push_back(std::move(part));
}

void ComposeBeeps(Rng& rng, Song& song) {
    song.bpm = rng.Between(96, 112);
    const uint8_t programs[] = {kSquareLead, kSawLead, kVibraphone};
    Part part{"Bip", 0, rng.Pick(programs), {}};
    const int falls[] = {3, 4, 5, 7};
    const int high = rng.Between(76, 83);
    const int low = high - rng.Pick(falls);
    for (uint32_t pair = 0; pair < 2; ++pair) {
        const uint32_t tick = pair * 2 * song.Beat();
        part.Add(tick, song.Eighth() - 40, high, 100);
        part.Add(tick + song.Eighth(), song.Eighth() - 40, low, 100);
    }
    song.tail = song.Beat();
    song.parts.push_back(std::move(part));
}

void ComposeCallwait(Rng& rng, Song& song) {
    song.bpm = rng.Between(100, 120);
    const uint8_t programs[] = {kVibraphone, kSquareLead, kCelesta};
    Part part{"Callwait", 0, rng.Pick(programs), {}};
    const int key = rng.Between(74, 84);
    const int lifts[] = {0, 0, 1, 2};
    const int lift = rng.Pick(lifts);
    for (uint32_t pair = 0; pair < 3; ++pair) {
        const uint32_t tick = pair * 2 * song.Beat();
        part.Add(tick, song.Sixteenth(), key, 100);
        part.Add(tick + 2 * song.Sixteenth(), song.Sixteenth(), key + lift, 100);
    }
    song.tail = song.Beat();
    song.parts.push_back(std::move(part));
}

void ComposeSweep(Rng& rng, Song& song, bool rising) {
    song.bpm = rng.Between(110, 140);
    const uint8_t programs[] = {kCelesta, kMarimba, kHarp, kVibraphone, kMusicBox};
    Part part{rising ? "Up" : "Down", 0, rng.Pick(programs), {}};
    const Scale* scales[] = {&kMajor, &kPentatonic, &kMixolydian};
    const Scale& scale = *rng.Pick(scales);
    const int root = rng.Between(60, 67);
    const int count = rng.Between(5, 7);
    const uint32_t step = rng.Chance(50) ? song.Eighth() : song.Sixteenth() * 3 / 2;
    // Seven-note scales climb by chord tones, the pentatonic one by every note.
    const int stride = scale.size() == 7 ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        const int degree = (rising ? i : count - 1 - i) * stride;
        const bool held = i + 1 == count;
        part.Add(i * step, held ? 2 * song.Beat() : step, Pitch(scale, root, degree),
                 held ? 104 : 88);
    }
    const uint32_t end = (count - 1) * step + 2 * song.Beat();
    if (rng.Chance(50)) {
        const uint8_t padPrograms[] = {kWarmPad, kStrings};
        Part pad{"Pad", 1, rng.Pick(padPrograms), {}};
        for (int i = 0; i < 3; ++i)
            pad.Add(0, end, Pitch(scale, root - 12, i * stride), 56);
        song.parts.push_back(std::move(pad));
    }
    song.tail = song.Eighth();
    song.parts.insert(song.parts.begin(), std::move(part));
}

// A tune with a bass line; `happy` keeps to a quick major key and bright instruments.
void ComposeMelody(Rng& rng, Song& song, bool happy) {
    song.bpm = happy ? rng.Between(140, 168) : rng.Between(100, 138);
    const uint8_t brightPrograms[] = {kMarimba, kXylophone, kCelesta, kSteelDrums, kKalimba};
    const uint8_t programs[] = {kPiano, kCelesta, kMusicBox, kVibraphone,  kMarimba,
                                kFlute, kOcarina, kKalimba,  kNylonGuitar, kElectricPiano};
    const Scale* scales[] = {&kMajor, &kMajor, &kMixolydian, &kDorian, &kMinor};
    const Scale& scale = happy ? kMajor : *rng.Pick(scales);
    Part melody{"Melody", 0, happy ? rng.Pick(brightPrograms) : rng.Pick(programs), {}};
    const int root = happy ? rng.Between(67, 72) : rng.Between(60, 67);
    const unsigned bars = BarsFor(song, 4.0, 2, 4);
    const Harmony harmony{rng.Pick(kProgressions), song.Bar()};
    Tune(rng, melody, scale, root, harmony, song, bars, kRhythmsFour, kEndingsFour, 92);

    const uint8_t bassPrograms[] = {kAcousticBass, kFingerBass, kSynthBass};
    Part bass{"Bass", 1, rng.Pick(bassPrograms), {}};
    const bool walking = rng.Chance(50);
    for (unsigned bar = 0; bar < bars; ++bar) {
        const int chord = harmony.At(bar * song.Bar());
        const uint32_t start = bar * song.Bar();
        if (bar + 1 == bars) {
            bass.Add(start, song.Bar(), Pitch(scale, root - 24, 0), 90);
        } else if (walking) {
            const int line[] = {0, 4, 7, 4};
            for (int beat = 0; beat < 4; ++beat)
                bass.Add(start + beat * song.Beat(), song.Beat() - 30,
                         Pitch(scale, root - 24, chord + line[beat]), 84);
        } else {
            bass.Add(start, 2 * song.Beat() - 30, Pitch(scale, root - 24, chord), 88);
            bass.Add(start + 2 * song.Beat(), 2 * song.Beat() - 30,
                     Pitch(scale, root - 24, chord + 4), 80);
        }
    }
    song.tail = song.Beat();
    song.parts.push_back(std::move(melody));
    song.parts.push_back(std::move(bass));
}

void ComposeArpeggio(Rng& rng, Song& song) {
    song.bpm = rng.Between(112, 132);
    const uint8_t programs[] = {kHarp, kCelesta, kMusicBox, kPiano};
    Part part{"Arpeggio", 0, rng.Pick(programs), {}};
    const Scale* scales[] = {&kMajor, &kMinor, &kHarmonicMinor};
    const Scale& scale = *rng.Pick(scales);
    const int root = rng.Between(60, 65);
    const std::vector<int>& progression = rng.Pick(kProgressions);
    const int chords = rng.Between(2, 3);
    uint32_t tick = 0;
    for (int c = 0; c < chords; ++c) {
        for (int i = 0; i < 6; ++i) {
            part.Add(tick, song.Sixteenth(), Pitch(scale, root, ChordDegree(progression[c], i)),
                     80 + 4 * i);
            tick += song.Sixteenth();
        }
        tick += song.Eighth();
    }
    for (int i = 0; i < 3; ++i)
        part.Add(tick, 2 * song.Beat(), Pitch(scale, root, ChordDegree(0, i) + 7), 100);
    song.tail = song.Eighth();
    song.parts.push_back(std::move(part));
}

void ComposeAlberti(Rng& rng, Song& song) {
    song.bpm = rng.Between(104, 126);
    song.ticksPerQuarter = 384;
    Part right{"Right hand", 0, kPiano, {}};
    Part left{"Left hand", 1, kPiano, {}};
    const int root = rng.Between(60, 67);
    const unsigned bars = 2;
    const Harmony harmony{rng.Pick(kProgressions), song.Bar() / 2};
    Tune(rng, right, kMajor, root, harmony, song, bars, kRhythmsFour, kEndingsFour, 90);
    // Alberti bass: the chord's lowest, highest, middle and highest note, in eighths.
    const int figure[] = {0, 2, 1, 2};
    for (uint32_t tick = 0; tick < bars * song.Bar(); tick += song.Eighth()) {
        const int chord = harmony.At(tick);
        const int index = figure[(tick / song.Eighth()) % 4];
        const bool last = tick + song.Eighth() >= bars * song.Bar();
        left.Add(tick, last ? song.Beat() : song.Eighth() - 10,
                 Pitch(kMajor, root - 12, ChordDegree(chord, index)), 64);
    }
    song.tail = song.Beat();
    song.parts.push_back(std::move(right));
    song.parts.push_back(std::move(left));
}

void ComposeBlues(Rng& rng, Song& song, bool lowdown) {
    song.bpm = lowdown ? rng.Between(88, 100) : rng.Between(118, 138);
    const uint8_t programs[] = {kHarmonica, kCleanGuitar, kElectricPiano, kDrawbarOrgan};
    const uint8_t lowPrograms[] = {kJazzGuitar, kTenorSax, kElectricPiano};
    Part riff{"Riff", 0, lowdown ? rng.Pick(lowPrograms) : rng.Pick(programs), {}};
    Part bass{"Bass", 1, rng.Chance(50) ? kAcousticBass : kFingerBass, {}};
    const int root = lowdown ? rng.Between(48, 53) : rng.Between(57, 64);
    // Swung eighths: the first of each pair takes two thirds of the beat.
    const uint32_t longEighth = song.Beat() * 2 / 3;
    auto position = [&](int eighth) {
        return (eighth / 2) * song.Beat() + (eighth % 2) * longEighth;
    };
    std::vector<int> slots{0};
    for (int eighth = 1; eighth < 8; ++eighth) {
        if (rng.Chance(55))
            slots.push_back(eighth);
    }
    std::vector<int> degrees;
    int degree = rng.Between(0, 2);
    for (size_t i = 0; i < slots.size(); ++i) {
        degrees.push_back(degree);
        degree = std::clamp(degree + rng.Between(-2, 2), -1, 7);
    }
    const int changes[] = {0, 5};
    const int lowChanges[] = {0, 0};
    for (int bar = 0; bar < 2; ++bar) {
        const int change = lowdown ? lowChanges[bar] : changes[bar];
        const uint32_t start = bar * song.Bar();
        for (size_t i = 0; i < slots.size(); ++i) {
            const uint32_t tick = start + position(slots[i]);
            const uint32_t next = i + 1 < slots.size() ? position(slots[i + 1]) : song.Bar();
            const uint32_t length = std::min<uint32_t>(next - position(slots[i]), song.Beat());
            riff.Add(tick, length - 20, Pitch(kBlues, root + change, degrees[i]), 96);
        }
        const int walk[] = {0, 4, 7, 9};
        for (int beat = 0; beat < 4; ++beat)
            bass.Add(start + beat * song.Beat(), song.Beat() - 40, root - 12 + change + walk[beat],
                     88);
    }
    const uint32_t end = 2 * song.Bar();
    riff.Add(end, song.Beat(), root, 104);
    bass.Add(end, song.Beat(), root - 12, 96);
    song.tail = song.Beat();
    song.parts.push_back(std::move(riff));
    song.parts.push_back(std::move(bass));
}

void ComposeSpooky(Rng& rng, Song& song) {
    song.bpm = rng.Between(62, 76);
    song.beatsPerBar = 3;
    const uint8_t programs[] = {kChurchOrgan, kChoir, kStrings};
    Part line{"Line", 0, rng.Pick(programs), {}};
    Part drone{"Drone", 1, rng.Chance(50) ? kChurchOrgan : kStrings, {}};
    const bool wholeTone = rng.Chance(50);
    const Scale& scale = wholeTone ? kWholeTone : kHarmonicMinor;
    const int root = rng.Between(52, 58);
    const uint32_t lengths[] = {song.Beat(), song.Beat() * 3 / 2, song.Beat() * 2};
    uint32_t tick = 0;
    int degree = rng.Between(3, 6);
    const uint32_t body = 2 * song.Bar() - 3 * song.Eighth();
    while (tick < body) {
        const uint32_t length = std::min(rng.Pick(lengths), body - tick);
        line.Add(tick, length - 20, Pitch(scale, root, degree), 70);
        tick += length;
        degree = std::clamp(degree + rng.Between(-3, 2), -2, 8);
    }
    // A chromatic slide down to finish.
    const int last = Pitch(scale, root, degree);
    for (int i = 1; i <= 3; ++i) {
        line.Add(tick, song.Eighth() - 10, last - i, 64);
        tick += song.Eighth();
    }
    const int interval = wholeTone ? 6 : 7;
    drone.Add(0, tick, root - 12, 52);
    drone.Add(0, tick, root - 12 + interval, 48);
    song.tail = song.Beat();
    song.parts.push_back(std::move(line));
    song.parts.push_back(std::move(drone));
}

void ComposeReggae(Rng& rng, Song& song) {
    song.bpm = rng.Between(84, 96);
    const bool minor = rng.Chance(50);
    const Scale& scale = minor ? kMinor : kMajor;
    const int root = rng.Between(55, 62);
    const int majorChords[][2] = {{0, 3}, {0, 4}, {3, 4}};
    const int minorChords[][2] = {{0, 6}, {0, 3}, {0, 5}};
    const auto& chords = minor ? rng.Pick(minorChords) : rng.Pick(majorChords);
    Part skank{"Chords", 0, rng.Chance(50) ? kDrawbarOrgan : kCleanGuitar, {}};
    Part bass{"Bass", 1, kFingerBass, {}};
    Part drums{"Drums", kDrumChannel, 0, {}};
    const int bassLines[][4][2] = {
        {{0, 0}, {3, 4}, {4, 2}, {6, 0}},  // (eighth, scale step above the chord root)
        {{0, 0}, {2, 0}, {5, 4}, {6, 2}},
        {{0, 0}, {3, 2}, {4, 4}, {7, 7}},
    };
    const auto& bassLine = rng.Pick(bassLines);
    for (int bar = 0; bar < 2; ++bar) {
        const uint32_t start = bar * song.Bar();
        const int chord = chords[bar];
        for (int beat = 0; beat < 4; ++beat) {
            const uint32_t offbeat = start + beat * song.Beat() + song.Eighth();
            for (int i = 0; i < 3; ++i)
                skank.Add(offbeat, song.Sixteenth(), Pitch(scale, root, ChordDegree(chord, i)), 76);
        }
        for (int i = 0; i < 4; ++i) {
            const uint32_t tick = start + bassLine[i][0] * song.Eighth();
            const uint32_t next =
                i + 1 < 4 ? start + bassLine[i + 1][0] * song.Eighth() : start + song.Bar();
            bass.Add(tick, next - tick - 30, Pitch(scale, root - 24, chord + bassLine[i][1]), 96);
        }
        for (int eighth = 0; eighth < 8; ++eighth)
            drums.Add(start + eighth * song.Eighth(), song.Sixteenth(), kClosedHat,
                      eighth % 2 ? 44 : 60);
        drums.Add(start + 2 * song.Beat(), song.Sixteenth(), kSideStick, 100);
    }
    drums.Add(2 * song.Bar(), song.Sixteenth(), kSideStick, 100);
    bass.Add(2 * song.Bar(), song.Beat(), Pitch(scale, root - 24, 0), 100);
    song.tail = song.Beat();
    song.parts.push_back(std::move(skank));
    song.parts.push_back(std::move(bass));
    song.parts.push_back(std::move(drums));
}

void ComposeStrum(Rng& rng, Song& song) {
    song.bpm = rng.Between(100, 120);
    Part guitar{"Guitar", 0, rng.Chance(50) ? kNylonGuitar : kSteelGuitar, {}};
    const Scale& scale = rng.Chance(70) ? kMajor : kMinor;
    const int root = rng.Between(52, 57);
    const std::vector<int>& progression = rng.Pick(kProgressions);
    // Strums within two beats, in eighths; up-strums on the off-beats.
    const std::vector<int> patterns[] = {{0, 2, 3}, {0, 1, 2, 3}, {0, 3}, {0, 2, 3}};
    const std::vector<int>& pattern = rng.Pick(patterns);
    const int voicing[] = {0, 4, 7, 9, 11};  // degrees above the chord root: root, 5th, 8ve ...
    auto strum = [&](uint32_t tick, uint32_t length, int chord, bool down, int velocity) {
        const int strings = down ? 5 : 3;
        for (int s = 0; s < strings; ++s) {
            const int index = down ? s : 4 - s;
            const uint32_t delay = s * 18;
            guitar.Add(tick + delay, length - delay, Pitch(scale, root, chord + voicing[index]),
                       velocity - (down ? 0 : 18) - s * 2);
        }
    };
    for (int half = 0; half < 4; ++half) {
        const uint32_t start = half * 2 * song.Beat();
        for (size_t i = 0; i < pattern.size(); ++i) {
            const uint32_t tick = start + pattern[i] * song.Eighth();
            const uint32_t next =
                start + (i + 1 < pattern.size() ? pattern[i + 1] : 4) * song.Eighth();
            strum(tick, next - tick - 10, progression[half], pattern[i] % 2 == 0, 96);
        }
    }
    strum(8 * song.Beat(), song.Beat() * 3 / 2, 0, true, 104);
    song.tail = song.Eighth();
    song.parts.push_back(std::move(guitar));
}

void ComposeTrill(Rng& rng, Song& song) {
    song.bpm = rng.Between(120, 140);
    const uint8_t programs[] = {kVibraphone, kMarimba, kSquareLead, kCelesta};
    Part part{"Trill", 0, rng.Pick(programs), {}};
    const int key = rng.Between(72, 84);
    const int intervals[] = {1, 2, 3, 4};
    const int interval = rng.Pick(intervals);
    const int lifts[] = {0, 0, 2, 5};
    const int lift = rng.Pick(lifts);
    const uint32_t thirtySecond = song.ticksPerQuarter / 8;
    for (int burst = 0; burst < 3; ++burst) {
        const uint32_t start = burst * 2 * song.Beat();
        const int base = key + (burst == 2 ? lift : 0);
        for (int i = 0; i < 8; ++i)
            part.Add(start + i * thirtySecond, thirtySecond - 6, base + (i % 2) * interval,
                     i == 0 ? 110 : 92);
    }
    song.tail = song.Beat();
    song.parts.push_back(std::move(part));
}

void ComposePerpetual(Rng& rng, Song& song) {
    song.bpm = rng.Between(96, 112);
    song.ticksPerQuarter = 240;
    const uint8_t programs[] = {kHarpsichord, kPiano, kChurchOrgan};
    Part upper{"Upper", 0, rng.Pick(programs), {}};
    Part lower{"Lower", 1, upper.program, {}};
    const Scale& scale = rng.Chance(50) ? kMajor : kHarmonicMinor;
    const int root = rng.Between(60, 67);
    const std::vector<int>& progression = rng.Pick(kProgressions);
    // Steps above the chord root, one per sixteenth of a half bar.
    const int figures[][8] = {
        {0, 2, 4, 7, 4, 2, 0, 2},
        {0, 4, 2, 4, 7, 4, 2, 4},
        {7, 4, 2, 4, 0, 2, 4, 2},
        {0, 2, 4, 2, 7, 4, 2, 4},
    };
    const auto& figure = rng.Pick(figures);
    for (int half = 0; half < 4; ++half) {
        const uint32_t start = half * 2 * song.Beat();
        for (int i = 0; i < 8; ++i)
            upper.Add(start + i * song.Sixteenth(), song.Sixteenth() - 8,
                      Pitch(scale, root, progression[half] + figure[i]), i % 4 == 0 ? 92 : 80);
        lower.Add(start, song.Beat() - 12, Pitch(scale, root - 12, progression[half]), 84);
        lower.Add(start + song.Beat(), song.Beat() - 12,
                  Pitch(scale, root - 12, progression[half] + 4), 76);
    }
    const uint32_t end = 8 * song.Beat();
    upper.Add(end, song.Beat(), Pitch(scale, root, 7), 96);
    lower.Add(end, song.Beat(), Pitch(scale, root - 12, 0), 90);
    song.tail = song.Eighth();
    song.parts.push_back(std::move(upper));
    song.parts.push_back(std::move(lower));
}

void ComposeRobot(Rng& rng, Song& song) {
    song.bpm = rng.Between(124, 140);
    Part lead{"Lead", 0, rng.Chance(50) ? kSquareLead : kSawLead, {}};
    Part bass{"Bass", 1, kSynthBass, {}};
    const int root = rng.Between(60, 64);
    const int figures[][8] = {
        {0, 0, 12, 0, 7, 0, 10, 0},
        {0, 3, 7, 12, 7, 3, 0, -2},
        {0, 12, 0, 10, 0, 7, 0, 5},
        {0, 7, 12, 7, 0, 7, 12, 13},
    };
    const int shifts[][4] = {{0, 0, 5, 3}, {0, 2, 0, -2}, {0, 3, 5, 6}, {0, -1, 0, 1}};
    const auto& figure = rng.Pick(figures);
    const auto& shift = rng.Pick(shifts);
    for (int half = 0; half < 4; ++half) {
        const uint32_t start = half * 2 * song.Beat();
        for (int i = 0; i < 8; ++i)
            lead.Add(start + i * song.Sixteenth(), song.Sixteenth() / 2,
                     root + shift[half] + figure[i], 100);
        for (int beat = 0; beat < 2; ++beat)
            bass.Add(start + beat * song.Beat(), song.Eighth(), root - 24 + shift[half], 100);
    }
    lead.Add(8 * song.Beat(), song.Eighth(), root + 12, 110);
    bass.Add(8 * song.Beat(), song.Eighth(), root - 24, 110);
    song.tail = song.Beat();
    song.parts.push_back(std::move(lead));
    song.parts.push_back(std::move(bass));
}

void ComposeWaltz(Rng& rng, Song& song) {
    song.bpm = rng.Between(140, 168);
    song.beatsPerBar = 3;
    const uint8_t programs[] = {kAccordion, kMusicBox, kFlute, kCelesta, kStrings};
    Part tune{"Tune", 0, rng.Pick(programs), {}};
    Part accompaniment{"Accompaniment", 1, rng.Chance(50) ? kPiano : kAccordion, {}};
    const int root = rng.Between(60, 67);
    const unsigned bars = 4;
    const Harmony harmony{rng.Pick(kProgressions), song.Bar()};
    Tune(rng, tune, kMajor, root, harmony, song, bars, kRhythmsThree, kEndingsThree, 90);
    for (unsigned bar = 0; bar < bars; ++bar) {
        const uint32_t start = bar * song.Bar();
        const int chord = harmony.At(start);
        accompaniment.Add(start, song.Beat() - 20, Pitch(kMajor, root - 24, chord), 80);
        if (bar + 1 == bars)
            break;
        for (int beat = 1; beat < 3; ++beat) {
            for (int i = 0; i < 3; ++i)
                accompaniment.Add(start + beat * song.Beat(), song.Eighth(),
                                  Pitch(kMajor, root - 12, ChordDegree(chord, i)), 60);
        }
    }
    song.tail = song.Beat();
    song.parts.push_back(std::move(tune));
    song.parts.push_back(std::move(accompaniment));
}

// --- Writing the file ------------------------------------------------------------------------

void PutQuantity(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (count > 1)
        out.push_back(groups[--count] | 0x80);
    out.push_back(groups[0]);
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value, int size) {
    for (int i = size - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

class Track {
  public:
    void Meta(uint32_t tick, uint8_t type, std::vector<uint8_t> data) {
        std::vector<uint8_t> bytes{0xFF, type};
        PutQuantity(bytes, static_cast<uint32_t>(data.size()));
        bytes.insert(bytes.end(), data.begin(), data.end());
        events_.push_back({tick, kOrderMeta, std::move(bytes)});
    }
    void Name(std::string_view name) {
        Meta(0, 0x03, std::vector<uint8_t>(name.begin(), name.end()));
    }
    // The channel's instrument and volume, before its first note.
    void Program(uint8_t channel, uint8_t program, uint8_t volume) {
        events_.push_back({0, kOrderProgram, {static_cast<uint8_t>(0xC0 | channel), program}});
        events_.push_back({0, kOrderProgram, {static_cast<uint8_t>(0xB0 | channel), 7, volume}});
    }
    void Notes(const Part& part) {
        for (const Note& note : part.notes) {
            const auto key = static_cast<uint8_t>(std::clamp(note.key, 0, 127));
            const auto velocity = static_cast<uint8_t>(std::clamp(note.velocity, 1, 127));
            const auto status = static_cast<uint8_t>(0x90 | part.channel);
            events_.push_back({note.start, kOrderOn, {status, key, velocity}});
            // A note-on of velocity 0 ends the note and lets running status continue.
            events_.push_back({note.start + note.length, kOrderOff, {status, key, 0}});
        }
    }

    // The MTrk chunk, events in time order, with running status, ending at `endTick`.
    std::vector<uint8_t> Encode(uint32_t endTick) {
        std::stable_sort(events_.begin(), events_.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });
        std::vector<uint8_t> body;
        uint32_t tick = 0;
        uint8_t runningStatus = 0;
        for (const Event& event : events_) {
            PutQuantity(body, event.tick - tick);
            tick = event.tick;
            const uint8_t status = event.bytes[0];
            const bool channelMessage = status < 0xF0;
            const size_t skip = channelMessage && status == runningStatus ? 1 : 0;
            body.insert(body.end(), event.bytes.begin() + skip, event.bytes.end());
            // Meta events cancel running status for strict readers.
            runningStatus = channelMessage ? status : 0;
        }
        PutQuantity(body, endTick - tick);
        body.insert(body.end(), {0xFF, 0x2F, 0x00});

        std::vector<uint8_t> chunk{'M', 'T', 'r', 'k'};
        PutBigEndian(chunk, static_cast<uint32_t>(body.size()), 4);
        chunk.insert(chunk.end(), body.begin(), body.end());
        return chunk;
    }

  private:
    // Events at the same tick: meta first, then note ends, programs, and note starts.
    enum Order { kOrderMeta, kOrderOff, kOrderProgram, kOrderOn };
    struct Event {
        uint32_t tick;
        Order order;
        std::vector<uint8_t> bytes;
    };
    std::vector<Event> events_;
};

void Conductor(Track& track, const Song& song) {
    const auto tempo = static_cast<uint32_t>(std::lround(60e6 / song.bpm));
    track.Meta(0, 0x58, {static_cast<uint8_t>(song.beatsPerBar), 2, 24, 8});
    track.Meta(0, 0x51,
               {static_cast<uint8_t>(tempo >> 16), static_cast<uint8_t>(tempo >> 8),
                static_cast<uint8_t>(tempo)});
}

std::vector<uint8_t> Encode(const Song& song) {
    uint32_t end = 0;
    for (const Part& part : song.parts) {
        for (const Note& note : part.notes)
            end = std::max(end, note.start + note.length);
    }
    end += song.tail;

    std::vector<std::vector<uint8_t>> tracks;
    if (song.parts.size() == 1) {
        Track track;
        Conductor(track, song);
        track.Program(song.parts[0].channel, song.parts[0].program, song.volume);
        track.Notes(song.parts[0]);
        tracks.push_back(track.Encode(end));
    } else {
        Track conductor;
        Conductor(conductor, song);
        tracks.push_back(conductor.Encode(end));
        for (const Part& part : song.parts) {
            Track track;
            track.Name(part.name);
            track.Program(part.channel, part.program, song.volume);
            track.Notes(part);
            tracks.push_back(track.Encode(end));
        }
    }

    std::vector<uint8_t> file{'M', 'T', 'h', 'd'};
    PutBigEndian(file, 6, 4);
    PutBigEndian(file, tracks.size() == 1 ? 0 : 1, 2);
    PutBigEndian(file, static_cast<uint32_t>(tracks.size()), 2);
    PutBigEndian(file, song.ticksPerQuarter, 2);
    for (const auto& track : tracks)
        file.insert(file.end(), track.begin(), track.end());
    return file;
}

}  // namespace

std::vector<uint8_t> ComposeMidi(const MidiRecipe& recipe) {
    Rng rng(recipe.seed);
    Song song;
    switch (recipe.style) {
        case Style::Alarm:
            ComposeAlarm(rng, song);
            break;
        case Style::Beeps:
            ComposeBeeps(rng, song);
            break;
        case Style::Callwait:
            ComposeCallwait(rng, song);
            break;
        case Style::Rising:
            ComposeSweep(rng, song, true);
            break;
        case Style::Falling:
            ComposeSweep(rng, song, false);
            break;
        case Style::Melody:
            ComposeMelody(rng, song, false);
            break;
        case Style::Happy:
            ComposeMelody(rng, song, true);
            break;
        case Style::Arpeggio:
            ComposeArpeggio(rng, song);
            break;
        case Style::Alberti:
            ComposeAlberti(rng, song);
            break;
        case Style::Blues:
            ComposeBlues(rng, song, false);
            break;
        case Style::Lowdown:
            ComposeBlues(rng, song, true);
            break;
        case Style::Spooky:
            ComposeSpooky(rng, song);
            break;
        case Style::Reggae:
            ComposeReggae(rng, song);
            break;
        case Style::Strum:
            ComposeStrum(rng, song);
            break;
        case Style::Trill:
            ComposeTrill(rng, song);
            break;
        case Style::Perpetual:
            ComposePerpetual(rng, song);
            break;
        case Style::Robot:
            ComposeRobot(rng, song);
            break;
        case Style::Waltz:
            ComposeWaltz(rng, song);
            break;
    }
    song.bpm *= recipe.tempoScale;
    // The synthesizer's volume curve is 40 log10(volume / 127) dB.
    song.volume = static_cast<uint8_t>(
        std::clamp(std::lround(100 * std::pow(10.0, recipe.levelDb / 40)), 1L, 127L));
    return Encode(song);
}

}  // namespace tonegen
