// Composing the phone's MIDI tones: short melodies drawn from a seed, in a style for each tone.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tonegen {

enum class Style {
    Alarm,      // a short high figure, repeated like a bell ringing
    Beeps,      // two falling beeps, twice
    Callwait,   // pairs of short beeps with rests between
    Rising,     // a climbing arpeggio ending on a held note
    Falling,    // the same, descending
    Melody,     // a tune over a bass line
    Happy,      // a quick tune in a major key
    Arpeggio,   // broken chords climbing over two octaves
    Alberti,    // a tune over an Alberti bass
    Blues,      // a swung riff on the blues scale over a walking bass
    Lowdown,    // a slow, low blues riff
    Spooky,     // slow whole-tone or minor line over a low drone
    Reggae,     // off-beat chords, a bass line and a side stick
    Strum,      // strummed guitar chords
    Trill,      // bursts of a fast two-note trill
    Perpetual,  // running sixteenths over broken chords
    Robot,      // a staccato square-wave figure shifted step by step
    Waltz,      // three-four time: bass, two chords, a tune on top
};

struct MidiRecipe {
    Style style;
    uint64_t seed;
    double tempoScale = 1.0;  // below 1 for a slower version of the same tune
    // Louder (or softer) than the General MIDI default channel volume by this much, from -30 dB
    // to +4 dB (the loudest a channel's volume goes), so that the tones sound equally loud.
    double levelDb = 0;
};

// The bytes of a Standard MIDI File (format 0 for one part, 1 for several), a few seconds long.
std::vector<uint8_t> ComposeMidi(const MidiRecipe& recipe);

// A seed from a name (FNV-1a), so that every tone has its own and keeps it from build to build.
uint64_t SeedOf(std::string_view name);

// A small deterministic generator (SplitMix64): the same seed gives the same tune everywhere.
class Rng {
  public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    // A whole number from lo to hi, both included.
    int Between(int lo, int hi);
    bool Chance(int percent) { return Between(1, 100) <= percent; }
    template <typename T, size_t N>
    const T& Pick(const T (&choices)[N]) {
        return choices[Between(0, static_cast<int>(N) - 1)];
    }

  private:
    uint64_t state_;
};

}  // namespace tonegen
