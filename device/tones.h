// The phone's own files: its built-in tones, the sample tones, and the player stand-in.
#pragma once

#include <filesystem>
#include <span>
#include <string_view>

namespace device {

struct PhoneTone {
    std::u16string_view devicePath;        // e.g. u"\\Windows\\Alarm1.mid"
    std::span<const unsigned char> bytes;  // the whole file, composed when the program was built
};

// Every tone file the phone carries: the 26 files behind its 27 built-in tones (in "\Windows\"),
// then the sample tones of "\IPSM\Application Data\Sounds\".
std::span<const PhoneTone> PhoneTones();

// The tones of the phone's ROM: those of "\Windows\", which come first. A phone gets them back
// whenever one is missing; the sample tones only come with a new phone.
inline std::span<const PhoneTone> RomTones() {
    const std::span<const PhoneTone> tones = PhoneTones();
    size_t count = 0;
    while (count < tones.size() && tones[count].devicePath.starts_with(u"\\Windows\\"))
        ++count;
    return tones.first(count);
}

// Writes each of `tones` that is missing under `fileSystemRoot`, creating its folders. A file or
// folder that exists under the same name in any letter case is used as it is: nothing is ever
// overwritten. Returns false, after a line on the debug output, if anything failed.
bool InstallPhoneTones(const std::filesystem::path& fileSystemRoot,
                       std::span<const PhoneTone> tones = PhoneTones());

// Where the player stand-in lives on the phone.
inline constexpr std::u16string_view kPlayerDevicePath = u"\\Windows\\qhandler.exe";

// The player program: "qhandler" where it lies from the running program, the same in the build
// folder as once installed (bin/ and libexec/tavonne/ below one prefix).
std::filesystem::path PlayerBinary();

// Copies `playerBinary` to "\Windows\qhandler.exe" under `fileSystemRoot`, executable. Unlike a
// tone, a copy that differs is replaced: the player is the phone's system program and follows
// the build. Returns false, after a line on the debug output, when it cannot.
bool InstallPlayer(const std::filesystem::path& fileSystemRoot,
                   const std::filesystem::path& playerBinary);

}  // namespace device
