// The status line under the phone: texts with an end time, and the status file of the device.
#include "platform/phone/status_line.h"

#include <filesystem>
#include <fstream>

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

// The line in the status file, which is then removed; nothing when there is none.
std::optional<std::wstring> TakeStatusFile() {
    const std::filesystem::path file = device::StatusFile();
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line.empty())
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
