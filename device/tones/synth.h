// Synthesising the phone's WAV tones, with arithmetic alone so that every build gives the same
// bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace tonegen {

// "Standard": two bursts of a warbling two-tone ring, 11025 Hz, 16-bit mono, under two seconds.
std::vector<uint8_t> StandardRing();

// A few struck bells on a pentatonic scale drawn from the seed, 8000 Hz, 8-bit mono.
std::vector<uint8_t> Chimes(uint64_t seed);

// A RIFF/WAVE PCM file of mono samples in -1..1, written with 8 (unsigned) or 16-bit samples.
std::vector<uint8_t> EncodeWave(const std::vector<double>& samples, uint32_t sampleRate,
                                unsigned bitsPerSample);

}  // namespace tonegen
