// Playing on Windows: the Windows build has no sound libraries yet, so the player checks the tone
// and logs what it would play. There is no terminal front end to read a status line.
#include "programs/player/player.h"

namespace player {

void Tell(const std::string&) {}

int PlayAloud(const std::string& said, const std::string& name,
              std::span<const unsigned char> bytes, const device::ToneInfo& info) {
    Log(said + device::DescribeTone(info));
    return kPlayable;
}

}  // namespace player
