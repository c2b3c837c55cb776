// qhandler: the phone's player stand-in. It checks the tone it is given, has the platform play it
// (play_posix.cpp, play_win32.cpp) and says what it did in one line of the phone's log and in the
// status line the terminal front end shows.
//
// Exit codes: 0 playing (or played), 1 nothing there to read, 2 not a tone file (a folder, a file
// of another kind or one that cannot be read), 3 not one argument, 4 no audio output.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "device/device_folder.h"
#include "device/paths.h"
#include "device/phone_files.h"
#include "device/tone_file.h"
#include "programs/entry/entry.h"
#include "programs/player/player.h"

namespace player {

// "3,5 s": seconds as the phone's French screens write them.
std::string FrenchSeconds(double seconds) {
    char text[32];
    snprintf(text, sizeof text, "%.1f s", seconds);
    if (char* point = strchr(text, '.'))
        *point = ',';
    return text;
}

// Replaced whole, never through a link (device::WriteStatus).
void Tell(std::string_view before, std::string_view name, std::string_view after) {
    device::WriteStatus(device::EscapedName(before) + '\t' + device::EscapedName(name) + '\t' +
                        device::EscapedName(after));
}

// Appended with a single write, so that lines of other processes never interleave.
void Log(std::string_view text) {
    const std::string line = device::EscapedName(text) + '\n';
    // Someone running the player by hand sees the line too.
    if (!device::AppendToLog(line) || isatty(STDERR_FILENO))
        fputs(line.c_str(), stderr);
}

}  // namespace player

namespace {

using namespace player;

// The last component of a device path: what the status line calls the tone.
std::string ToneName(std::string_view parameter) {
    const size_t slash = parameter.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? parameter : parameter.substr(slash + 1));
}

int Play(std::string_view parameter) {
    const std::string said = "qhandler: play \"" + std::string(parameter) + "\": ";
    const std::string name = ToneName(parameter);
    const device::ToneFile loaded = device::ReadToneFile(text::FromUtf8(parameter));
    if (!loaded.problem.empty()) {
        Log(said + loaded.problem);
        // Something that is there but cannot be read as a tone (a folder named like one) is
        // no tone file.
        if (loaded.exists) {
            Tell("", name, " : pas un fichier de sonnerie");
            return kNotATone;
        }
        Tell("", name, " : fichier introuvable");
        return kNoFile;
    }
    const device::ToneInfo tone = device::InspectTone(loaded.bytes);
    if (!tone.Playable()) {
        Log(said + device::DescribeTone(tone));
        Tell("", name, " : pas un fichier de sonnerie");
        return kNotATone;
    }
    return PlayAloud(said, name, device::HostPath(text::FromUtf8(parameter)), loaded.bytes, tone);
}

}  // namespace

int ProgramMain(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        Log("qhandler: nothing to play (one argument expected, " + std::to_string(args.size() - 1) +
            " given)");
        return kUsage;
    }
    try {
        return Play(args[1]);
    } catch (const std::exception& failure) {
        Log(std::string("qhandler: failed: ") + failure.what());
        return kNoFile;
    }
}
