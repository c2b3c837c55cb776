// The WAV tones: oscillators and decays built from sums and products, and the RIFF writer.
#include "device/tones/synth.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "device/tones/compose.h"

namespace tonegen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLn2 = 0.69314718055994530942;

// sin(2 pi turns) from a Taylor series after reduction to a quarter turn: the library's sin may
// differ in its last bit between machines, this does not.
double Sine(double turns) {
    double t = turns - std::floor(turns);
    if (t > 0.75)
        t -= 1.0;
    else if (t > 0.25)
        t = 0.5 - t;
    const double x = 2 * kPi * t;
    const double x2 = x * x;
    double term = x;
    double sum = x;
    for (int n = 1; n <= 7; ++n) {
        term *= -x2 / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

// e^x by halving until the series converges fast, then squaring back.
double Exp(double x) {
    int halvings = 0;
    while (x > 0.125 || x < -0.125) {
        x /= 2;
        ++halvings;
    }
    double term = 1;
    double sum = 1;
    for (int n = 1; n <= 10; ++n) {
        term *= x / n;
        sum += term;
    }
    while (halvings-- > 0)
        sum *= sum;
    return sum;
}

double KeyFrequency(int key) {
    return 440.0 * Exp((key - 69) / 12.0 * kLn2);
}

void PutLittleEndian(std::vector<uint8_t>& out, uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void Normalise(std::vector<double>& samples, double peak) {
    double highest = 0;
    for (double s : samples)
        highest = std::max(highest, std::fabs(s));
    if (highest > 0) {
        for (double& s : samples)
            s *= peak / highest;
    }
}

}  // namespace

std::vector<uint8_t> StandardRing() {
    constexpr uint32_t kRate = 11025;
    constexpr double kBursts[][2] = {{0.0, 0.7}, {0.9, 1.6}};
    constexpr double kLength = 1.8;
    constexpr double kWarble = 25;  // changes of pitch per second
    constexpr double kLow = 1040, kHigh = 1300;
    constexpr double kRamp = 0.008;  // fade in and out, so that bursts do not click

    std::vector<double> samples(static_cast<size_t>(kLength * kRate));
    double phase = 0;
    for (size_t n = 0; n < samples.size(); ++n) {
        const double t = static_cast<double>(n) / kRate;
        double envelope = 0;
        for (const auto& burst : kBursts) {
            if (t >= burst[0] && t < burst[1])
                envelope = std::min({1.0, (t - burst[0]) / kRamp, (burst[1] - t) / kRamp});
        }
        const bool high = static_cast<long>(t * kWarble) % 2 != 0;
        phase += (high ? kHigh : kLow) / kRate;
        phase -= std::floor(phase);
        samples[n] = envelope * (Sine(phase) + 0.25 * Sine(3 * phase));
    }
    // As loud as the phone's MIDI tones as its player renders them: about -23 dB of full scale
    // (RMS) while it sounds.
    Normalise(samples, 0.093);
    return EncodeWave(samples, kRate, 16);
}

std::vector<uint8_t> Chimes(uint64_t seed) {
    constexpr uint32_t kRate = 8000;
    constexpr double kStrikeGap = 0.45;
    constexpr double kLength = 3.0;
    // A bell's partials: hum, prime, minor third, fifth, octave and above, each dying faster.
    constexpr double kRatios[] = {0.5, 1.0, 1.2, 1.5, 2.0, 2.5, 3.0};
    constexpr double kLevels[] = {0.25, 1.0, 0.45, 0.3, 0.35, 0.15, 0.1};
    constexpr double kDecays[] = {1.6, 1.0, 0.8, 0.6, 0.45, 0.3, 0.2};
    constexpr int kPentatonic[] = {0, 2, 4, 7, 9};

    Rng rng(seed);
    const int root = rng.Between(72, 79);
    std::vector<int> keys;
    for (int i = 0; i < 4; ++i) {
        const int degree = rng.Between(0, 7);
        keys.push_back(root + 12 * (degree / 5) + kPentatonic[degree % 5]);
    }
    keys.push_back(rng.Chance(50) ? root : root + 12);

    std::vector<double> samples(static_cast<size_t>(kLength * kRate));
    for (size_t k = 0; k < keys.size(); ++k) {
        const double frequency = KeyFrequency(keys[k]);
        const size_t start = static_cast<size_t>(k * kStrikeGap * kRate);
        for (size_t p = 0; p < std::size(kRatios); ++p) {
            const double partial = frequency * kRatios[p];
            if (partial >= kRate / 2)
                continue;
            const double decayPerSample = Exp(-1.0 / (kDecays[p] * kRate));
            double level = kLevels[p];
            for (size_t n = start; n < samples.size(); ++n) {
                const double attack = std::min(1.0, (n - start) / (0.002 * kRate));
                samples[n] += attack * level * Sine(partial * (n - start) / kRate);
                level *= decayPerSample;
            }
        }
    }
    Normalise(samples, 0.33);  // as loud as the MIDI tones, as Standard is
    return EncodeWave(samples, kRate, 8);
}

std::vector<uint8_t> EncodeWave(const std::vector<double>& samples, uint32_t sampleRate,
                                unsigned bitsPerSample) {
    const unsigned frameSize = bitsPerSample / 8;
    const auto dataSize = static_cast<uint32_t>(samples.size() * frameSize);
    const uint32_t pad = dataSize % 2;
    std::vector<uint8_t> file{'R', 'I', 'F', 'F'};
    PutLittleEndian(file, 4 + (8 + 16) + (8 + dataSize + pad), 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLittleEndian(file, 16, 4);
    PutLittleEndian(file, 1, 2);  // PCM
    PutLittleEndian(file, 1, 2);  // mono
    PutLittleEndian(file, sampleRate, 4);
    PutLittleEndian(file, sampleRate * frameSize, 4);
    PutLittleEndian(file, frameSize, 2);
    PutLittleEndian(file, bitsPerSample, 2);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    PutLittleEndian(file, dataSize, 4);
    for (double s : samples) {
        const double clamped = std::clamp(s, -1.0, 1.0);
        if (bitsPerSample == 8) {
            // 8-bit samples are unsigned, silence at 128.
            file.push_back(static_cast<uint8_t>(std::lround(clamped * 127) + 128));
        } else {
            const auto value = static_cast<int16_t>(std::lround(clamped * 32767));
            PutLittleEndian(file, static_cast<uint16_t>(value), 2);
        }
    }
    if (pad != 0)
        file.push_back(0);
    return file;
}

}  // namespace tonegen
