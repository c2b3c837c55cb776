// qhandler: the phone's player stand-in. It checks that the tone it is given can be played and
// logs what it found; sound output is a later step that takes the checked tone from here.
//
// Exit codes: 0 playable, 1 no file to read, 2 not a tone file, 3 not one argument.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_folder.h"
#include "device/paths.h"
#include "device/player/tone_file.h"
#include "base/text.h"

namespace {

namespace fs = std::filesystem;

enum ExitCode { kPlayable = 0, kNoFile = 1, kNotATone = 2, kUsage = 3 };

// Tones are small; anything bigger is not read at all.
constexpr std::uintmax_t kLargestTone = 64 << 20;

// Control characters escaped, so that each run keeps to one line of the log.
std::string OneLine(std::string_view text) {
    std::string shown;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown;
}

// One line, appended with a single write so that lines of other processes never interleave.
void Log(std::string_view text) {
    const std::string line = OneLine(text) + '\n';
    const int log =
        open(device::LogFile().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    const bool logged =
        log >= 0 && write(log, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (log >= 0)
        close(log);
    // Someone running the player by hand sees the line too.
    if (!logged || isatty(STDERR_FILENO))
        fputs(line.c_str(), stderr);
}

struct Loaded {
    std::vector<unsigned char> bytes;
    std::string problem;  // why there is nothing to play, when `bytes` could not be read
};

Loaded Load(const fs::path& file) {
    Loaded loaded;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (!fs::exists(status)) {
        loaded.problem = "no such file (" + file.string() + ")";
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
            loaded.problem = "cannot read (" + file.string() + ")";
    }
    return loaded;
}

int Play(std::string_view parameter) {
    const std::string said = "qhandler: play \"" + std::string(parameter) + "\": ";
    const Loaded loaded = Load(device::HostPath(text::FromUtf8(parameter)));
    if (!loaded.problem.empty()) {
        Log(said + loaded.problem);
        return kNoFile;
    }
    const device::ToneInfo tone = device::InspectTone(loaded.bytes);
    Log(said + device::DescribeTone(tone));
    if (!tone.Playable())
        return kNotATone;
    // Sound output, when it comes, takes `tone` (and `loaded.bytes`) from here.
    return kPlayable;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        Log("qhandler: nothing to play (one argument expected, " + std::to_string(argc - 1) +
            " given)");
        return kUsage;
    }
    try {
        return Play(argv[1]);
    } catch (const std::exception& failure) {
        Log(std::string("qhandler: failed: ") + failure.what());
        return kNoFile;
    }
}
