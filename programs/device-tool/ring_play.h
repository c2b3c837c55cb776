// What tavonne-device ring and sms leave to each platform (ring_posix.cpp, ring_win32.cpp):
// playing a tone that passed the check, and what they say while they do.
#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "device/tone_file.h"

namespace ring {

// How a tone rings: once, or again after `gapSeconds` of silence until `limitSeconds` have gone
// by (no limit when 0).
struct Schedule {
    bool repeat = false;
    double gapSeconds = 0;
    double limitSeconds = 0;
};

// A tone to ring: the path its registry value names, as shown, and what its file holds.
struct Tone {
    std::string what;  // "call tone", "SMS tone"
    std::string shown;
    std::filesystem::path file;
    std::span<const unsigned char> bytes;
    device::ToneInfo info;
};

// Plays the tone as `schedule` says until a key is pressed, saying what it plays (`how`: "once",
// ...); the command's exit code.
int Play(const Tone& tone, const Schedule& schedule, const std::string& how);

// Whether tones go to the file TAVONNE_AUDIO_OUT names rather than to an audio output.
bool WritesToFile();

// What the commands say: "ERROR: " and the message on standard error, and status 1; why the tone
// cannot be played, likewise; the tone as it starts; how many times it was played.
int Error(const std::string& message);
int CannotPlay(const Tone& tone, const std::string& why);
void SayPlaying(const Tone& tone, const std::string& how);
void SayPlayed(int plays);

}  // namespace ring
