// The status line under the phone: texts with an end time, and the status file of the device.
#include "platform/phone/status_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "device/beneath.h"
#include "device/device_folder.h"
#include "base/text.h"

namespace frontend::status {

namespace {

using namespace std::chrono_literals;

constexpr auto kShown = 4s;         // how long a line stays
constexpr auto kLookingFor = 5s;    // how long after a launch its line may come
constexpr auto kLookEvery = 100ms;  // how often the file is looked at meanwhile

std::wstring shown;
Clock::time_point shownUntil;
Clock::time_point lookUntil;

// The line in the status file (read without following a link), which is then removed; nothing
// when there is none.
std::optional<std::wstring> TakeStatusFile() {
    const std::filesystem::path file = device::StatusFile();
    const device::UniqueFd fd =
        device::OpenBeneath(device::Folder(), file.lexically_relative(device::Folder()),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    char text[4096];
    const ssize_t size = fd.Get() >= 0 ? read(fd.Get(), text, sizeof text) : -1;
    if (size <= 0)
        return std::nullopt;
    const std::string line(text, std::find(text, text + size, '\n'));
    if (line.empty())
        return std::nullopt;
    std::error_code error;
    std::filesystem::remove(file, error);
    std::wstring wide;
    for (char16_t c : text::FromUtf8(line))
        wide += static_cast<wchar_t>(c);
    return wide;
}

}  // namespace

void Launched(Clock::time_point now) {
    // A line left by an earlier launch is not this one's.
    std::error_code error;
    std::filesystem::remove(device::StatusFile(), error);
    lookUntil = now + kLookingFor;
}

void Show(std::wstring text, Clock::time_point now) {
    shown = std::move(text);
    shownUntil = now + kShown;
}

std::optional<std::wstring> Current(Clock::time_point now) {
    if (now < lookUntil) {
        if (std::optional<std::wstring> line = TakeStatusFile())
            Show(std::move(*line), now);
    }
    if (now < shownUntil)
        return shown;
    return std::nullopt;
}

int NextCheck(Clock::time_point now) {
    auto next = Clock::time_point::max();
    if (now < lookUntil)
        next = now + kLookEvery;
    if (now < shownUntil)
        next = std::min(next, shownUntil);
    if (next == Clock::time_point::max())
        return -1;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
}

}  // namespace frontend::status
