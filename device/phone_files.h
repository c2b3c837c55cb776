// The phone's files as the programs use them: tones read and host files copied in, never through
// a link out of the phone, and copies whole or not at all.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace device {

// A tone file's bytes, or why there are none.
struct ToneFile {
    std::vector<unsigned char> bytes;
    std::string problem;  // e.g. "no such file (...)", "cannot read (a folder)"
    bool exists = false;  // something is there under that name, a tone or not
};
// Tones are small: a file larger than this is not read at all.
inline constexpr std::uintmax_t kLargestToneBytes = 64 << 20;
// Reads the whole file at a device path, refusing folders, links that lead outside the phone and
// anything far larger than a tone.
ToneFile ReadToneFile(std::u16string_view devicePath);

// Copies the host file `source` into the phone's folder `deviceFolder` (made when missing) as
// `name`; a file of that name in any letter case is replaced. The copy is written beside its
// final name and renamed into place once whole, so a full disk, a kill or `stopped` saying true
// leaves the old file or the new one. Empty when copied, else why not, in a few words.
std::string CopyToPhone(const std::filesystem::path& source, std::u16string_view deviceFolder,
                        std::u16string_view name, const std::function<bool()>& stopped);

}  // namespace device
