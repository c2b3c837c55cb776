// Playing tone files through libsndfile, FluidSynth and SDL, or into a WAV file.
#include "programs/sound/sound.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <SDL2/SDL.h>
#include <fluidsynth.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "device/beneath.h"

namespace sound {

namespace {

constexpr std::size_t kBlockFrames = 1024;
constexpr int kMidiRate = 44100;
// A frame is silent when every sample lies within this of zero (-54 dBFS).
constexpr int kSilentLevel = 64;
// Notes still sounding when a MIDI file ends fade out over this long at most.
constexpr std::size_t kMidiTailFrames = kMidiRate;
// The SoundFonts Debian installs: TimGM6mb (6 MB, loads quickly) first.
constexpr const char* kSoundFonts[] = {
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
};

Result Fail(Failure failure, std::string problem) {
    return Result{failure, std::move(problem)};
}

// Audio libraries print their own diagnostics on standard error, which is the phone's log for
// a launched player: kept quiet while they start.
class QuietStandardError {
  public:
    QuietStandardError() : saved_(dup(STDERR_FILENO)) {
        const int nothing = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (nothing >= 0) {
            dup2(nothing, STDERR_FILENO);
            close(nothing);
        }
    }
    ~QuietStandardError() {
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
        }
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

  private:
    int saved_;
};

// ---- WAV, decoded by libsndfile from the checked bytes ----

struct Memory {
    std::span<const unsigned char> bytes;
    sf_count_t position = 0;
};

sf_count_t MemoryLength(void* data) {
    return static_cast<sf_count_t>(static_cast<Memory*>(data)->bytes.size());
}

sf_count_t MemorySeek(sf_count_t offset, int whence, void* data) {
    Memory& m = *static_cast<Memory*>(data);
    const sf_count_t base = whence == SEEK_CUR   ? m.position
                            : whence == SEEK_END ? static_cast<sf_count_t>(m.bytes.size())
                                                 : 0;
    m.position = std::clamp<sf_count_t>(base + offset, 0, m.bytes.size());
    return m.position;
}

sf_count_t MemoryRead(void* to, sf_count_t count, void* data) {
    Memory& m = *static_cast<Memory*>(data);
    count = std::min<sf_count_t>(count, m.bytes.size() - m.position);
    std::memcpy(to, m.bytes.data() + m.position, count);
    m.position += count;
    return count;
}

sf_count_t MemoryWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t MemoryTell(void* data) {
    return static_cast<Memory*>(data)->position;
}

SF_VIRTUAL_IO kMemoryIo = {MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};

class WaveTone : public Tone {
  public:
    explicit WaveTone(std::span<const unsigned char> bytes) : memory_{bytes} {
        file_ = sf_open_virtual(&kMemoryIo, SFM_READ, &info_, &memory_);
    }
    ~WaveTone() override {
        if (file_ != nullptr)
            sf_close(file_);
    }
    bool Opened(std::string& problem) const {
        if (file_ == nullptr)
            problem = sf_strerror(nullptr);
        return file_ != nullptr;
    }
    int Rate() const override { return info_.samplerate; }
    int Channels() const override { return info_.channels; }
    std::size_t Read(int16_t* buffer, std::size_t frames) override {
        const sf_count_t read = sf_readf_short(file_, buffer, static_cast<sf_count_t>(frames));
        return read > 0 ? static_cast<std::size_t>(read) : 0;
    }
    bool Rewind() override { return sf_seek(file_, 0, SEEK_SET) == 0; }

  private:
    Memory memory_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
};

// ---- MIDI, synthesised by FluidSynth, faster than real time when the output takes it ----

bool Problem(std::string& problem, const char* what) {
    problem = what;
    return false;
}

// The synthesizer with its SoundFont, made on the first MIDI tone and kept for the process's
// life: a player that stays for its next tone plays it without loading the SoundFont again.
class Synthesizer {
  public:
    ~Synthesizer() {
        if (synth_ != nullptr)
            delete_fluid_synth(synth_);
        if (settings_ != nullptr)
            delete_fluid_settings(settings_);
    }

    // Nothing when it cannot start; `problem` then says why.
    static fluid_synth_t* Get(std::string& problem) {
        static Synthesizer kept;
        if (kept.synth_ == nullptr && !kept.Start(problem))
            return nullptr;
        return kept.synth_;
    }

  private:
    bool Start(std::string& problem) {
        for (int level = 0; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, nullptr, nullptr);
        if (settings_ == nullptr)
            settings_ = new_fluid_settings();
        if (settings_ == nullptr)
            return Problem(problem, "the synthesizer cannot start");
        fluid_settings_setnum(settings_, "synth.sample-rate", kMidiRate);
        fluid_settings_setnum(settings_, "synth.gain", 1.7);
        // A phone's loudspeaker has no hall: no reverb or chorus, and less to compute.
        fluid_settings_setint(settings_, "synth.reverb.active", 0);
        fluid_settings_setint(settings_, "synth.chorus.active", 0);
        // The player follows the samples written, so a file can be rendered at any speed.
        fluid_settings_setstr(settings_, "player.timing-source", "sample");
        fluid_settings_setint(settings_, "synth.lock-memory", 0);
        // Only the samples of the instruments a tone selects are read from the SoundFont.
        fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
        fluid_synth_t* synth = new_fluid_synth(settings_);
        if (synth == nullptr)
            return Problem(problem, "the synthesizer cannot start");
        for (const char* font : kSoundFonts) {
            if (access(font, R_OK) == 0 && fluid_synth_sfload(synth, font, 1) != FLUID_FAILED) {
                synth_ = synth;
                return true;
            }
        }
        delete_fluid_synth(synth);
        return Problem(problem, "no General MIDI SoundFont (install timgm6mb-soundfont)");
    }

    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
};

class MidiTone : public Tone {
  public:
    MidiTone(std::span<const unsigned char> bytes, double seconds)
        : bytes_(bytes.begin(), bytes.end()),
          musicFrames_(static_cast<std::size_t>(seconds * kMidiRate + 0.5)) {}
    ~MidiTone() override {
        if (player_ != nullptr)
            delete_fluid_player(player_);
        // The next tone starts from silence.
        if (synth_ != nullptr)
            fluid_synth_system_reset(synth_);
    }

    bool Open(std::string& problem) {
        synth_ = Synthesizer::Get(problem);
        if (synth_ == nullptr)
            return false;
        if (!Rewind())
            return Problem(problem, "the synthesizer refused the MIDI file");
        return true;
    }

    int Rate() const override { return kMidiRate; }
    int Channels() const override { return 2; }

    // The music to the end the file gives it (FluidSynth's own player stays on for as long as
    // notes ring), then what still rings, fading out.
    std::size_t Read(int16_t* buffer, std::size_t frames) override {
        const bool tail = written_ >= musicFrames_;
        if (tail) {
            const std::size_t tailDone = written_ - musicFrames_;
            if (fluid_synth_get_active_voice_count(synth_) == 0 || tailDone >= kMidiTailFrames)
                return 0;
            frames = std::min(frames, kMidiTailFrames - tailDone);
        } else {
            frames = std::min(frames, musicFrames_ - written_);
        }
        if (fluid_synth_write_s16(synth_, static_cast<int>(frames), buffer, 0, 2, buffer, 1, 2) !=
            FLUID_OK)
            return 0;
        if (tail) {
            for (std::size_t i = 0; i < frames; ++i) {
                const double gain =
                    1.0 - static_cast<double>(written_ - musicFrames_ + i) / kMidiTailFrames;
                buffer[2 * i] = static_cast<int16_t>(buffer[2 * i] * gain);
                buffer[2 * i + 1] = static_cast<int16_t>(buffer[2 * i + 1] * gain);
            }
        }
        written_ += frames;
        return frames;
    }

    bool Rewind() override {
        if (player_ != nullptr)
            delete_fluid_player(player_);
        fluid_synth_system_reset(synth_);
        written_ = 0;
        player_ = new_fluid_player(synth_);
        return player_ != nullptr &&
               fluid_player_add_mem(player_, bytes_.data(), bytes_.size()) == FLUID_OK &&
               fluid_player_play(player_) == FLUID_OK;
    }

  private:
    std::vector<unsigned char> bytes_;
    fluid_synth_t* synth_ = nullptr;
    fluid_player_t* player_ = nullptr;
    std::size_t musicFrames_;
    std::size_t written_ = 0;
};

// ---- Outputs ----

class FileOutput : public Output {
  public:
    FileOutput(int rate, int channels) {
        info_.samplerate = rate;
        info_.channels = channels;
        info_.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    }
    ~FileOutput() override {
        if (file_ != nullptr)
            sf_close(file_);
    }

    bool Open(const std::filesystem::path& path, std::string& problem) {
        const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
        const std::string name = path.filename().string();
        folder_.Reset(open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat info;
        if (folder_.Get() < 0 || name.empty() || name == "." || name == "..") {
            problem = folder_.Get() < 0 ? strerror(errno) : "not a file name";
            return false;
        }
        // Renaming over a link replaces the link; a FIFO or a device is no file to replace.
        if (fstatat(folder_.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
            problem = "not a regular file";
            return false;
        }
        beside_ = std::make_unique<device::FileBeside>(folder_.Get(), name);
        if (beside_->Fd() < 0) {
            problem = strerror(errno);
            return false;
        }
        file_ = sf_open_fd(beside_->Fd(), SFM_WRITE, &info_, SF_FALSE);
        if (file_ == nullptr)
            problem = sf_strerror(nullptr);
        return file_ != nullptr;
    }
    bool Write(const int16_t* frames, std::size_t count) override {
        return sf_writef_short(file_, frames, static_cast<sf_count_t>(count)) ==
               static_cast<sf_count_t>(count);
    }
    bool Finish() override {
        const bool closed = sf_close(file_) == 0;
        file_ = nullptr;
        return closed && beside_->Commit();
    }

  private:
    SF_INFO info_{};
    device::UniqueFd folder_;
    std::unique_ptr<device::FileBeside> beside_;
    SNDFILE* file_ = nullptr;
};

void NoLog(void*, int, SDL_LogPriority, const char*) {}

// The device's buffer, about 10 ms: the first frames are heard that much after they are queued
// (SDL takes a power of two).
Uint16 BufferFrames(int rate) {
    Uint16 frames = 64;
    while (frames < 4096 && frames * 1000 < rate * 8)
        frames *= 2;
    return frames;
}

// The audio device, opened on the first tone at the synthesizer's format and kept for the
// process's life, paused between tones: a player that stays for its next tone starts it without
// opening the device again (closing one waits for SDL's thread to drain it). Each tone is
// converted to it.
class AudioDevice {
  public:
    static constexpr int kChannels = 2;

    ~AudioDevice() {
        if (device_ != 0)
            SDL_CloseAudioDevice(device_);
        if (started_)
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    // 0 when there is no audio output; `problem` then says why.
    static SDL_AudioDeviceID Get(std::string& problem, Uint32& bufferMilliseconds) {
        static AudioDevice kept;
        if (kept.device_ == 0 && !kept.Open(problem))
            return 0;
        bufferMilliseconds = 1000 * kept.have_.samples / std::max(kept.have_.freq, 1);
        return kept.device_;
    }

  private:
    bool Open(std::string& problem) {
        QuietStandardError quiet;
        SDL_LogSetOutputFunction(NoLog, nullptr);
        if (!started_)
            started_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
        if (started_) {
            SDL_AudioSpec want{};
            want.freq = kMidiRate;
            want.format = AUDIO_S16SYS;
            want.channels = kChannels;
            want.samples = BufferFrames(kMidiRate);
            // SDL converts to whatever the device takes.
            device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have_, 0);
        }
        if (device_ == 0)
            problem = SDL_GetError();
        return device_ != 0;
    }

    bool started_ = false;
    SDL_AudioDeviceID device_ = 0;
    SDL_AudioSpec have_{};
};

class SdlOutput : public Output {
  public:
    SdlOutput(std::function<bool()> stopped) : stopped_(std::move(stopped)) {}
    ~SdlOutput() override {
        if (device_ != 0) {
            SDL_PauseAudioDevice(device_, 1);
            SDL_ClearQueuedAudio(device_);
        }
        if (stream_ != nullptr)
            SDL_FreeAudioStream(stream_);
    }

    bool Open(int rate, int channels, std::string& problem) {
        device_ = AudioDevice::Get(problem, bufferMilliseconds_);
        if (device_ == 0)
            return false;
        stream_ = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(channels), rate, AUDIO_S16SYS,
                                     AudioDevice::kChannels, kMidiRate);
        if (stream_ == nullptr) {
            problem = SDL_GetError();
            return false;
        }
        bytesPerFrame_ = channels * 2;
        return true;
    }

    bool Write(const int16_t* frames, std::size_t count) override {
        while (!stopped_() && SDL_GetQueuedAudioSize(device_) > kAhead)
            SDL_Delay(2);
        if (stopped_()) {
            SDL_ClearQueuedAudio(device_);
            return true;
        }
        if (SDL_AudioStreamPut(stream_, frames, static_cast<int>(count * bytesPerFrame_)) != 0 ||
            !Queue())
            return false;
        // The device starts with the tone's first frames, not with silence before them.
        if (!playing_)
            SDL_PauseAudioDevice(device_, 0);
        playing_ = true;
        return true;
    }

    bool Finish() override {
        if (!stopped_() && SDL_AudioStreamFlush(stream_) == 0)
            Queue();
        while (!stopped_() && SDL_GetQueuedAudioSize(device_) > 0)
            SDL_Delay(2);
        if (stopped_()) {
            SDL_ClearQueuedAudio(device_);
            return true;
        }
        // The device's own buffer is still to be heard.
        SDL_Delay(bufferMilliseconds_ + 20);
        return true;
    }

  private:
    // A quarter of a second at the device's format.
    static constexpr Uint32 kAhead = kMidiRate / 4 * AudioDevice::kChannels * 2;

    // What the conversion has ready goes to the device.
    bool Queue() {
        int16_t converted[4096];
        for (int got; (got = SDL_AudioStreamGet(stream_, converted, sizeof converted)) != 0;) {
            if (got < 0 || SDL_QueueAudio(device_, converted, static_cast<Uint32>(got)) != 0)
                return false;
        }
        return true;
    }

    std::function<bool()> stopped_;
    SDL_AudioDeviceID device_ = 0;
    SDL_AudioStream* stream_ = nullptr;
    bool playing_ = false;
    Uint32 bufferMilliseconds_ = 0;
    std::size_t bytesPerFrame_ = 0;
};

const char* OutputFile() {
    const char* path = std::getenv("TAVONNE_AUDIO_OUT");
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

}  // namespace

std::unique_ptr<Tone> OpenTone(std::span<const unsigned char> bytes, const device::ToneInfo& info,
                               Result& result) {
    std::string problem;
    if (info.kind == device::ToneKind::Wave) {
        auto tone = std::make_unique<WaveTone>(bytes);
        if (tone->Opened(problem))
            return tone;
        result = Fail(Failure::NotATone, "WAV decoder: " + problem);
    } else if (info.kind == device::ToneKind::Midi) {
        auto tone = std::make_unique<MidiTone>(bytes, info.seconds);
        QuietStandardError quiet;
        if (tone->Open(problem))
            return tone;
        result = Fail(Failure::NotATone, "MIDI synthesizer: " + problem);
    } else {
        result = Fail(Failure::NotATone, info.problem);
    }
    return nullptr;
}

bool WritesToFile() {
    return OutputFile() != nullptr;
}

std::unique_ptr<Output> OpenOutput(int rate, int channels, std::function<bool()> stopped,
                                   Result& result) {
    if (const char* path = OutputFile()) {
        auto file = std::make_unique<FileOutput>(rate, channels);
        std::string problem;
        if (file->Open(path, problem))
            return file;
        result =
            Fail(Failure::NoOutput, std::string("cannot write ") + path + " (" + problem + ")");
        return nullptr;
    }
    auto output = std::make_unique<SdlOutput>(std::move(stopped));
    std::string problem;
    if (output->Open(rate, channels, problem))
        return output;
    result = Fail(Failure::NoOutput, "no audio output (" + problem + ")");
    return nullptr;
}

Result Play(Tone& tone, Output& output, const Schedule& schedule,
            const std::function<bool()>& stopped, const std::function<void()>& started,
            int* plays) {
    const std::size_t channels = static_cast<std::size_t>(tone.Channels());
    const double rate = tone.Rate();
    const uint64_t limit = schedule.limitSeconds > 0
                               ? static_cast<uint64_t>(schedule.limitSeconds * rate + 0.5)
                               : UINT64_MAX;
    const uint64_t gap = static_cast<uint64_t>(schedule.gapSeconds * rate + 0.5);
    std::vector<int16_t> buffer(kBlockFrames * channels);
    uint64_t written = 0;
    const auto write = [&](const int16_t* frames, uint64_t count) {
        count = std::min(count, limit - written);
        if (count == 0)
            return true;
        if (!output.Write(frames, static_cast<std::size_t>(count)))
            return false;
        if (written == 0 && started)
            started();
        written += count;
        return true;
    };
    const std::vector<int16_t> silence(kBlockFrames * channels, 0);
    const auto writeSilence = [&](uint64_t frames) {
        for (uint64_t left = frames; left > 0 && !stopped() && written < limit;) {
            const uint64_t count = std::min<uint64_t>(left, kBlockFrames);
            if (!write(silence.data(), count))
                return false;
            left -= count;
        }
        return true;
    };
    const Result failed = Fail(Failure::NoOutput, "the audio output failed");
    int begun = 0;
    // The quiet frames since the last sound of a play wait here: heard when the play sounds again,
    // dropped when it ends and another follows, whose silence is counted from that sound.
    std::vector<int16_t> held;
    std::vector<int16_t> sounding;
    while (!stopped() && written < limit) {
        const bool again = begun > 0;
        bool sounded = false;
        held.clear();
        for (std::size_t read; !stopped() && written < limit &&
                               (read = tone.Read(buffer.data(), kBlockFrames)) > 0;) {
            sounding.clear();
            for (std::size_t frame = 0; frame < read; ++frame) {
                const int16_t* samples = buffer.data() + frame * channels;
                if (std::all_of(samples, samples + channels,
                                [](int16_t sample) { return std::abs(sample) <= kSilentLevel; })) {
                    // Before the first sound of a play that follows another, it is part of the
                    // silence between them.
                    if (sounded || !again)
                        held.insert(held.end(), samples, samples + channels);
                    continue;
                }
                if (!sounded) {
                    if (again && !writeSilence(gap))
                        return failed;
                    if (stopped() || written >= limit)
                        break;
                    sounded = true;
                    ++begun;
                }
                sounding.insert(sounding.end(), held.begin(), held.end());
                held.clear();
                sounding.insert(sounding.end(), samples, samples + channels);
            }
            if (!write(sounding.data(), sounding.size() / channels))
                return failed;
        }
        // The last play is heard to its very end; a tone that never sounds is played once.
        if (!schedule.repeat || !sounded || stopped() || written >= limit) {
            begun += again || sounded ? 0 : 1;
            if (!write(held.data(), held.size() / channels))
                return failed;
            break;
        }
        if (!tone.Rewind())
            return Fail(Failure::NotATone, "the tone cannot be played again");
    }
    if (plays != nullptr)
        *plays = begun;
    if (!output.Finish())
        return failed;
    return {};
}

}  // namespace sound
