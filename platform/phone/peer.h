// The peer channel: how a copy of the program reaches the windows of the copy already running on
// the same device (FindWindowW and SetForegroundWindow across processes).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace peer {

// How long a copy keeps trying for an answer from the running one.
inline constexpr std::chrono::seconds kAnswerTimeout{5};

// Answers a title with the id of this process's top-level window of that title, if any.
using FindFunction = std::function<std::optional<uint64_t>(std::u16string_view title)>;
// Brings the window of that id to the front; false when there is no such window.
using ForegroundFunction = std::function<bool(uint64_t id)>;

// Starts answering the other processes of this device folder, on a socket whose name it writes in
// run/peer.lock of the device folder (only its owner can make a file there, and read this one).
// False when the channel cannot be opened, or another live process of this device already
// listens. Listening again replaces the
// functions. A crashed listener leaves nothing behind that blocks the next one.
bool Listen(FindFunction find, ForegroundFunction foreground);
// The descriptor to poll for readability with the front end's input; -1 when not listening.
int ListenFd();
// Answers the requests waiting on the channel, without waiting for new ones. The functions are
// called from here, on the caller's thread. Each request is bounded by a short timeout, so a
// client that never writes does not stall the caller.
void HandlePending();
void StopListening();

// Asks the listening process of this device for its window of that title. A full queue of
// requests is waited out, and so are "no listener" and "no such window" while another process
// shares a named mutex with this one (the running copy may still be starting). Empty when no
// process listens, when it has no such window, when it does not answer within a few seconds, and
// when this process is itself the listener (its windows are local).
std::optional<uint64_t> FindRemote(std::u16string_view title);
// Asks the listening process to bring the window of that id to the front; true when it did.
bool ForegroundRemote(uint64_t id);

}  // namespace peer
