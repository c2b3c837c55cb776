// tavonne-tonegen: composes the phone's tones, checks them, and writes them as C++ byte arrays.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/host_path.h"
#include "device/tone_file.h"
#include "device/tones/compose.h"
#include "device/tones/synth.h"

namespace {

using tonegen::Style;

struct Tone {
    std::string devicePath;  // UTF-8, with backslashes
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Midi(Style style, std::string_view seedName, double tempoScale = 1.0,
                          double levelDb = 0) {
    return tonegen::ComposeMidi({style, tonegen::SeedOf(seedName), tempoScale, levelDb});
}

// Each MIDI tone's level (see MidiRecipe) makes it as loud as the others as the player renders
// it with its SoundFont: about -23 dB of full scale (RMS from its first sound to its last).
std::vector<Tone> ComposeAll() {
    const std::string windows = "\\Windows\\";
    const std::string sounds = "\\IPSM\\Application Data\\Sounds\\";
    return {
        {windows + "Alarm1.mid", Midi(Style::Alarm, "Alarm1", 1.0, +3.1)},
        {windows + "AlarmXtra2.mid", Midi(Style::Alarm, "AlarmXtra2", 1.0, -0.3)},
        // The slow alarm is the same tune as AlarmXtra2 at three fifths of its pace.
        {windows + "AlarmXtra2-Slow.mid", Midi(Style::Alarm, "AlarmXtra2", 0.6, +1.6)},
        {windows + "Alarm4.mid", Midi(Style::Alarm, "Alarm4", 1.0, +3.3)},
        {windows + "NewTune9.mid", Midi(Style::Alberti, "NewTune9", 1.0, +1.3)},
        {windows + "Notify.mid", Midi(Style::Arpeggio, "Notify", 1.0, -1.1)},
        {windows + "BatteryLow1.mid", Midi(Style::Beeps, "BatteryLow1", 1.0, -3.8)},
        {windows + "NewTune8.mid", Midi(Style::Blues, "NewTune8", 1.0, -5.3)},
        {windows + "NewTune1.mid", Midi(Style::Blues, "NewTune1", 1.0, -5.1)},
        {windows + "Callwait.mid", Midi(Style::Callwait, "Callwait", 1.0, -2.2)},
        {windows + "PegConnect2.mid", Midi(Style::Rising, "PegConnect2", 1.0, -3.0)},
        {windows + "RecStart.mid", Midi(Style::Rising, "RecStart", 1.0, +0.0)},
        {windows + "PegDisconnect.mid", Midi(Style::Falling, "PegDisconnect", 1.0, -6.0)},
        {windows + "Spooky.mid", Midi(Style::Spooky, "Spooky", 1.0, +2.1)},
        {windows + "RecEnd.mid", Midi(Style::Falling, "RecEnd", 1.0, +2.5)},
        {windows + "happy.mid", Midi(Style::Happy, "happy", 1.0, +0.2)},
        {windows + "kelly.mid", Midi(Style::Melody, "kelly", 1.0, -4.3)},
        {windows + "LaDiDaDi.mid", Midi(Style::Melody, "LaDiDaDi", 1.0, -3.0)},
        {windows + "NewTune6.mid", Midi(Style::Melody, "NewTune6", 1.0, -3.2)},
        {windows + "NewTune7.mid", Midi(Style::Perpetual, "NewTune7", 1.0, -1.6)},
        {windows + "Lowdown.mid", Midi(Style::Lowdown, "Lowdown", 1.0, -4.7)},
        {windows + "Reggae.mid", Midi(Style::Reggae, "Reggae", 1.0, -4.2)},
        {windows + "Robatica.mid", Midi(Style::Robot, "Robatica", 1.0, -7.7)},
        {windows + "Standard.wav", tonegen::StandardRing()},
        {windows + "Strum.mid", Midi(Style::Strum, "Strum", 1.0, -5.5)},
        {windows + "genericRing2.mid", Midi(Style::Trill, "genericRing2", 1.0, -0.3)},
        {sounds + "Carillon du matin.wav", tonegen::Chimes(tonegen::SeedOf("Carillon du matin"))},
        {sounds + "Petite valse.mid", Midi(Style::Waltz, "Petite valse", 1.0, -4.8)},
        {sounds + "R\u00e9veil en douceur.mid",
         Midi(Style::Melody, "Reveil en douceur", 1.0, -6.0)},
    };
}

bool EndsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

// Every tone must pass the player's own check, have the kind its name says, last a few seconds,
// and differ from every other.
bool Check(const std::vector<Tone>& tones) {
    bool good = true;
    for (size_t i = 0; i < tones.size(); ++i) {
        const Tone& tone = tones[i];
        const device::ToneInfo info = device::InspectTone(tone.bytes);
        const device::ToneKind expected =
            EndsWith(tone.devicePath, ".wav") ? device::ToneKind::Wave : device::ToneKind::Midi;
        if (info.kind != expected || info.seconds < 1.0 || info.seconds > 8.0) {
            fprintf(stderr, "tonegen: %s: %s\n", tone.devicePath.c_str(),
                    device::DescribeTone(info).c_str());
            good = false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (tones[j].bytes == tone.bytes || tones[j].devicePath == tone.devicePath) {
                fprintf(stderr, "tonegen: %s repeats %s\n", tone.devicePath.c_str(),
                        tones[j].devicePath.c_str());
                good = false;
            }
        }
    }
    return good;
}

// A UTF-16 literal for a UTF-8 path: ASCII as it is, the rest as \u escapes.
std::string Utf16Literal(std::string_view utf8) {
    std::string literal = "u\"";
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        unsigned code = c;
        size_t length = 1;
        if (c >= 0xE0) {
            code = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
            length = 3;
        } else if (c >= 0xC0) {
            code = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
            length = 2;
        }
        i += length;
        if (code == '\\' || code == '"') {
            literal += '\\';
            literal += static_cast<char>(code);
        } else if (code >= 0x20 && code < 0x7F) {
            literal += static_cast<char>(code);
        } else {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", code);
            literal += escape;
        }
    }
    return literal + "\"";
}

std::string Source(const std::vector<Tone>& tones) {
    std::string out =
        "// Generated by tavonne-tonegen (device/tones/): the phone's tones. Do not edit.\n"
        "#include \"device/tones.h\"\n\n"
        "namespace device {\n\nnamespace {\n\n";
    for (size_t i = 0; i < tones.size(); ++i) {
        out += "const unsigned char tone" + std::to_string(i) + "[] = {";
        for (size_t b = 0; b < tones[i].bytes.size(); ++b) {
            char byte[8];
            snprintf(byte, sizeof byte, "0x%02x,", tones[i].bytes[b]);
            out += b % 16 == 0 ? "\n    " : " ";
            out += byte;
        }
        out += "\n};\n";
    }
    out += "\nconst PhoneTone phoneTones[] = {\n";
    for (size_t i = 0; i < tones.size(); ++i)
        out += "    {" + Utf16Literal(tones[i].devicePath) + ", tone" + std::to_string(i) + "},\n";
    out +=
        "};\n\n}  // namespace\n\n"
        "std::span<const PhoneTone> PhoneTones() {\n    return phoneTones;\n}\n\n"
        "}  // namespace device\n";
    return out;
}

bool WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        fprintf(stderr, "tonegen: cannot write %s\n", text::PathToUtf8(path).c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr,
                "usage: tavonne-tonegen OUTPUT.cpp\n"
                "  writes the phone's tones as C++ byte arrays\n");
        return 2;
    }
    const std::vector<Tone> tones = ComposeAll();
    if (!Check(tones))
        return 1;

    // Written beside the output and renamed, so that a stopped build leaves no half file.
    const std::filesystem::path output = argv[1];
    std::filesystem::path partial = output;
    partial += ".partial";
    if (!WriteFile(partial, Source(tones)))
        return 1;
    std::error_code error;
    std::filesystem::rename(partial, output, error);
    if (error) {
        fprintf(stderr, "tonegen: cannot write %s: %s\n", text::PathToUtf8(output).c_str(),
                error.message().c_str());
        return 1;
    }
    return 0;
}
