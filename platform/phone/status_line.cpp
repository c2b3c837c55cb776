// The status line under the phone: lines with an end time, the status file of the device, and
// fitting a line to the terminal.
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

// The key help, from the longest to the shortest.
constexpr const wchar_t* kHelps[] = {
    L"F1/F2 touches programmables · ←↑→↓ · Entrée action · Retour ⌫",
    L"F1/F2 · ←↑→↓ · Entrée action · Retour ⌫",
    L"F1/F2 · ←↑→↓ · Entrée · Retour ⌫",
    L"F1/F2 · ←↑→↓ · Entrée · ⌫",
};

Line shown;
Clock::time_point shownUntil;
Clock::time_point lookUntil;

// The line in the status file (read without following a link), which is then removed; nothing
// when there is none.
std::optional<Line> TakeStatusFile() {
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
    return Parse(wide);
}

}  // namespace

Line Parse(std::wstring_view text) {
    const size_t open = text.find(L'\t');
    const size_t close = open == text.npos ? text.npos : text.find(L'\t', open + 1);
    if (close == text.npos)
        return Line{std::wstring(text), {}, {}};
    return Line{std::wstring(text.substr(0, open)),
                std::wstring(text.substr(open + 1, close - open - 1)),
                std::wstring(text.substr(close + 1))};
}

std::wstring Fit(const Line& line, std::size_t width) {
    const std::wstring whole = line.before + line.name + line.after;
    if (whole.size() <= width)
        return whole;
    // The name keeps at least its first character.
    const std::size_t rest = line.before.size() + line.after.size();
    if (!line.name.empty() && rest + 2 <= width)
        return line.before + line.name.substr(0, width - rest - 1) + L"…" + line.after;
    return width == 0 ? std::wstring() : whole.substr(0, width - 1) + L"…";
}

std::wstring Help(std::size_t width) {
    for (const wchar_t* help : kHelps) {
        if (std::wstring_view(help).size() <= width)
            return help;
    }
    return Fit(Line{kHelps[std::size(kHelps) - 1], {}, {}}, width);
}

void Launched(Clock::time_point now) {
    // A line left by an earlier launch is not this one's.
    std::error_code error;
    std::filesystem::remove(device::StatusFile(), error);
    lookUntil = now + kLookingFor;
}

void Show(Line line, Clock::time_point now, bool held) {
    shown = std::move(line);
    shownUntil = held ? Clock::time_point::max() : now + kShown;
}

void Clear() {
    shownUntil = {};
}

std::optional<Line> Current(Clock::time_point now) {
    if (now < lookUntil) {
        if (std::optional<Line> line = TakeStatusFile())
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
    // A held line stays until it is cleared: nothing to look at meanwhile.
    if (next == Clock::time_point::max())
        return -1;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
}

}  // namespace frontend::status
