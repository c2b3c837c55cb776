// Launches inside the platform: the observer that ShellExecuteExW tells of every launch.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

// Called by ShellExecuteExW once per call whose SHELLEXECUTEINFOW is well formed (right cbSize,
// lpFile given), before anything is started and whatever the outcome, with lpFile and
// lpParameters exactly as given (an absent lpParameters is empty). An empty function removes it.
using LaunchObserver =
    std::function<void(std::u16string_view file, std::u16string_view parameters)>;
void SetLaunchObserver(LaunchObserver observer);

}  // namespace platform
