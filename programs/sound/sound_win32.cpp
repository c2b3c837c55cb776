// Playing tone files through Windows' own audio: WAV through the wave API, from the bytes already
// checked, and Standard MIDI Files through the system's MIDI sequencer (MCI), which reads the file.
#include "programs/sound/sound_win32.h"

#include <mmsystem.h>
#include <mmreg.h>

#include <algorithm>
#include <vector>

#include "wide_text.h"

namespace sound {

namespace {

std::string WaveError(MMRESULT error) {
    wchar_t text[MAXERRORLENGTH] = L"";
    if (waveOutGetErrorTextW(error, text, MAXERRORLENGTH) != MMSYSERR_NOERROR)
        return "error " + std::to_string(error);
    return Utf8(text);
}

std::string MciError(MCIERROR error) {
    wchar_t text[MAXERRORLENGTH] = L"";
    if (!mciGetErrorStringW(error, text, MAXERRORLENGTH))
        return "error " + std::to_string(error);
    return Utf8(text);
}

Started NoOutput(const std::string& why) {
    return Started{nullptr, true, "no audio output (" + why + ")"};
}

// The samples in one buffer, handed to the wave output whole.
class WavePlaying : public Playing {
  public:
    WavePlaying(HWAVEOUT output, std::span<const unsigned char> samples)
        : output_(output), samples_(samples.begin(), samples.end()) {
        header_.lpData = reinterpret_cast<LPSTR>(samples_.data());
        header_.dwBufferLength = static_cast<DWORD>(samples_.size());
    }
    ~WavePlaying() override {
        // Win32 rule: a buffer is unprepared only once the output has given it back, which
        // waveOutReset does at once.
        waveOutReset(output_);
        if (prepared_)
            waveOutUnprepareHeader(output_, &header_, sizeof header_);
        waveOutClose(output_);
    }
    WavePlaying(const WavePlaying&) = delete;
    WavePlaying& operator=(const WavePlaying&) = delete;

    MMRESULT Write() {
        MMRESULT result = waveOutPrepareHeader(output_, &header_, sizeof header_);
        prepared_ = result == MMSYSERR_NOERROR;
        if (prepared_)
            result = waveOutWrite(output_, &header_, sizeof header_);
        return result;
    }

    bool Ended(const MSG& message) const override {
        return message.message == MM_WOM_DONE &&
               reinterpret_cast<HWAVEOUT>(message.wParam) == output_;
    }

  private:
    HWAVEOUT output_;
    std::vector<unsigned char> samples_;
    WAVEHDR header_{};
    bool prepared_ = false;
};

Started StartWave(HWND window, const device::ToneInfo& info) {
    const device::WaveTone& wave = info.wave;
    WAVEFORMATEXTENSIBLE format{};
    format.Format.wFormatTag = WAVE_FORMAT_PCM;
    format.Format.nChannels = static_cast<WORD>(wave.channels);
    format.Format.nSamplesPerSec = wave.sampleRate;
    format.Format.wBitsPerSample = static_cast<WORD>(wave.bitsPerSample);
    format.Format.nBlockAlign = static_cast<WORD>(wave.channels * wave.bitsPerSample / 8);
    format.Format.nAvgBytesPerSec = wave.sampleRate * format.Format.nBlockAlign;
    // Win32 rule: more than two channels or more than 16 bits a sample take the extensible form.
    if (wave.channels > 2 || wave.bitsPerSample > 16) {
        format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        format.Format.cbSize = sizeof format - sizeof format.Format;
        format.Samples.wValidBitsPerSample = format.Format.wBitsPerSample;
        format.SubFormat = GUID{STATIC_KSDATAFORMAT_SUBTYPE_PCM};
    }
    HWAVEOUT output = nullptr;
    const MMRESULT opened = waveOutOpen(&output, WAVE_MAPPER, &format.Format,
                                        reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW);
    if (opened != MMSYSERR_NOERROR)
        return NoOutput("waveOutOpen: " + WaveError(opened));
    auto playing = std::make_unique<WavePlaying>(output, wave.samples);
    if (const MMRESULT written = playing->Write(); written != MMSYSERR_NOERROR)
        return NoOutput("waveOutWrite: " + WaveError(written));
    return Started{std::move(playing), false, ""};
}

// The sequencer plays the file through the MIDI mapper and posts MM_MCINOTIFY when it is done.
class MidiPlaying : public Playing {
  public:
    explicit MidiPlaying(MCIDEVICEID device) : device_(device) {}
    ~MidiPlaying() override { mciSendCommandW(device_, MCI_CLOSE, MCI_WAIT, 0); }
    MidiPlaying(const MidiPlaying&) = delete;
    MidiPlaying& operator=(const MidiPlaying&) = delete;

    MCIERROR Play(HWND window) {
        MCI_PLAY_PARMS play{};
        play.dwCallback = reinterpret_cast<DWORD_PTR>(window);
        return mciSendCommandW(device_, MCI_PLAY, MCI_NOTIFY, reinterpret_cast<DWORD_PTR>(&play));
    }

    // Whether the tone played to its end or the sequencer gave up, its play command is over.
    bool Ended(const MSG& message) const override {
        return message.message == MM_MCINOTIFY &&
               static_cast<MCIDEVICEID>(message.lParam) == device_;
    }

  private:
    MCIDEVICEID device_;
};

Started StartMidi(HWND window, const std::filesystem::path& file) {
    // Wine's sequencer opens and "plays" with no MIDI output at all, saying nothing: asked first.
    if (midiOutGetNumDevs() == 0)
        return NoOutput("no MIDI output device");
    MCI_OPEN_PARMSW open{};
    open.lpstrDeviceType = L"sequencer";
    open.lpstrElementName = file.c_str();
    const MCIERROR opened =
        mciSendCommandW(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT | MCI_WAIT,
                        reinterpret_cast<DWORD_PTR>(&open));
    if (opened == MCIERR_INVALID_FILE)
        return Started{nullptr, false, "the MIDI sequencer refused it (" + MciError(opened) + ")"};
    if (opened != 0)
        return NoOutput("MIDI sequencer: " + MciError(opened));
    auto playing = std::make_unique<MidiPlaying>(open.wDeviceID);
    if (const MCIERROR played = playing->Play(window); played != 0)
        return NoOutput("MIDI sequencer: " + MciError(played));
    return Started{std::move(playing), false, ""};
}

}  // namespace

Started Start(HWND window, const std::filesystem::path& file, const device::ToneInfo& info) {
    if (info.kind == device::ToneKind::Wave)
        return StartWave(window, info);
    return StartMidi(window, file);
}

Waited Wait(const Playing* playing, double seconds, const std::function<bool(const MSG*)>& stop) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (playing != nullptr && playing->Ended(message))
                return Waited::Ended;
            if (stop(&message))
                return Waited::Stopped;
            DispatchMessageW(&message);
        }
        if (stop(nullptr))
            return Waited::Stopped;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return Waited::TimedOut;
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min(deadline - now, 20ull)), QS_ALLINPUT);
    }
}

}  // namespace sound
