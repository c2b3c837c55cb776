// Reading back rendered sound and finding the device's players.
#include "support/audio.h"

#include <sndfile.h>

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

#include "device/device_folder.h"

double Sound::Seconds() const {
    return rate > 0 && channels > 0 ? static_cast<double>(samples.size()) / channels / rate : 0;
}

double Sound::Rms() const {
    double sum = 0;
    for (int16_t s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / samples.size());
}

double Sound::SoundingRmsDb(int level) const {
    const auto loud = [level](int16_t s) { return std::abs(s) > level; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud).base();
    if (first >= last)
        return -INFINITY;
    // Whole frames, from the first sample's frame to the last sample's.
    const size_t begin = (first - samples.begin()) / channels * channels;
    const size_t end = ((last - samples.begin()) + channels - 1) / channels * channels;
    double sum = 0;
    for (size_t i = begin; i < end; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return 20 * std::log10(std::sqrt(sum / (end - begin)) / 32768);
}

std::vector<std::pair<double, double>> Sound::Silences(int level, double shortest) const {
    std::vector<std::pair<double, double>> silences;
    const size_t frames = samples.size() / channels;
    size_t start = 0;
    for (size_t frame = 0; frame <= frames; ++frame) {
        bool quiet = frame < frames;
        for (int c = 0; quiet && c < channels; ++c)
            quiet = std::abs(samples[frame * channels + c]) <= level;
        if (quiet)
            continue;
        if (static_cast<double>(frame - start) / rate >= shortest)
            silences.emplace_back(static_cast<double>(start) / rate,
                                  static_cast<double>(frame) / rate);
        start = frame + 1;
    }
    return silences;
}

std::optional<Sound> ReadSound(const std::filesystem::path& file) {
    SF_INFO info{};
    SNDFILE* in = sf_open(file.c_str(), SFM_READ, &info);
    if (in == nullptr)
        return std::nullopt;
    Sound sound;
    sound.rate = info.samplerate;
    sound.channels = info.channels;
    const bool pcm16 = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV &&
                       (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    sound.samples.resize(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_short(in, sound.samples.data(), info.frames);
    sf_close(in);
    if (!pcm16 || read != info.frames)
        return std::nullopt;
    return sound;
}

namespace {

// Each NUL-ended string of a /proc file (a process's command line or environment).
std::vector<std::string> ProcStrings(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> strings;
    for (std::string s; std::getline(in, s, '\0');)
        strings.push_back(s);
    return strings;
}

// The Windows build's player under Wine: a Wine process whose command line starts with the
// program as launched, in this device (the folder as Wine names it, Z:\...).
bool IsWinePlayer(const std::filesystem::path& process) {
    const std::vector<std::string> command = ProcStrings(process / "cmdline");
    const std::string program = "\\qhandler.exe";
    if (command.empty() || command[0].size() < program.size() ||
        strcasecmp(command[0].c_str() + command[0].size() - program.size(), program.c_str()) != 0)
        return false;
    std::string device = "TAVONNE_DEVICE=Z:" + device::Folder().string();
    std::replace(device.begin(), device.end(), '/', '\\');
    const std::vector<std::string> environment = ProcStrings(process / "environ");
    return std::find(environment.begin(), environment.end(), device) != environment.end();
}

}  // namespace

std::vector<pid_t> RunningPlayers() {
    struct stat player;
    std::vector<pid_t> running;
    const auto installed = device::FileSystemRoot() / "Windows" / "qhandler.exe";
    if (stat(installed.c_str(), &player) != 0)
        return running;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        struct stat exe;
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const bool linuxPlayer = stat((entry.path() / "exe").c_str(), &exe) == 0 &&
                                 exe.st_ino == player.st_ino && exe.st_dev == player.st_dev;
        if (!linuxPlayer && !IsWinePlayer(entry.path()))
            continue;
        // "pid (name) state ...": an ended process waiting for its parent is not running.
        std::ifstream statFile(entry.path() / "stat");
        std::string line;
        std::getline(statFile, line);
        const size_t close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z')
            running.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return running;
}
