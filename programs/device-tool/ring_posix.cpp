// Ringing on Linux: the tone played through the shared sound code, until a key is pressed or a
// signal asks to stop.
#include "programs/device-tool/ring_play.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "programs/sound/sound.h"

namespace ring {

namespace {

volatile sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

// A key pressed on standard input: one character on a terminal (no Enter needed), any input
// otherwise. Input that has ended is no key.
class Keys {
  public:
    Keys() {
        terminal_ = tcgetattr(STDIN_FILENO, &saved_) == 0;
        if (terminal_) {
            termios raw = saved_;
            raw.c_lflag &= ~(ICANON | ECHO);
            tcsetattr(STDIN_FILENO, TCSANOW, &raw);
        }
    }
    ~Keys() {
        if (terminal_)
            tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;

    bool Pressed() {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (!watching_ || poll(&input, 1, 0) <= 0)
            return false;
        char key;
        if (read(STDIN_FILENO, &key, 1) == 1)
            return true;
        watching_ = false;
        return false;
    }

  private:
    termios saved_{};
    bool terminal_ = false;
    bool watching_ = true;
};

}  // namespace

bool WritesToFile() {
    return sound::WritesToFile();
}

int Play(const Tone& ringing, const Schedule& schedule, const std::string& how) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    Keys keys;
    const auto stopped = [&keys] { return interrupted != 0 || keys.Pressed(); };
    sound::Result result;
    std::unique_ptr<sound::Tone> tone = sound::OpenTone(ringing.bytes, ringing.info, result);
    std::unique_ptr<sound::Output> output;
    if (tone)
        output = sound::OpenOutput(tone->Rate(), tone->Channels(), stopped, result);
    if (!output)
        return CannotPlay(ringing, result.problem);

    SayPlaying(ringing, how);
    int plays = 0;
    result =
        sound::Play(*tone, *output, {schedule.repeat, schedule.gapSeconds, schedule.limitSeconds},
                    stopped, nullptr, &plays);
    if (result.failure != sound::Failure::None)
        return Error(result.problem + ".");
    SayPlayed(plays);
    return 0;
}

}  // namespace ring
