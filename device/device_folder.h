// The device folder: where the phone's file system, registry and log live on this machine.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace device {

// $TAVONNE_DEVICE, else $XDG_DATA_HOME/tavonne/device, else ~/.local/share/tavonne/device.
// Read once per process (ResetForTesting reads it again).
const std::filesystem::path& Folder();

// The root of the phone's file system: the device path "\" lives here.
std::filesystem::path FileSystemRoot();
// The registry database.
std::filesystem::path RegistryFile();
// The phone's log: debug output in terminal mode, and what launched programs print.
std::filesystem::path LogFile();
// Appends `line` to the log in one write, so that the lines of processes writing at once never
// interleave; false when it cannot.
bool AppendToLog(std::string_view line);
// run/status: the one line a launched program leaves for the person at the phone (what it plays,
// or why it cannot), shown by the terminal front end. A tone's or a program's name in it stands
// between two tabs, so that a line too long for the terminal can be shortened there first.
std::filesystem::path StatusFile();
// Replaces the status line whole (written beside, then renamed; never through a link) with `line`,
// which holds no control character but the two tabs.
bool WriteStatus(std::string_view line);

// What this process puts after a file's name while it writes the file under a temporary name:
// ".new-<pid>".
std::string TemporarySuffix();
// Removes from `folder` what a process of ours that has ended left while it wrote: a temporary
// named "registry.db" or a hidden name followed by ".new-<pid>", with anything after a dash
// ("-journal", a random tail). Files of processes still running are left alone.
void RemoveLeftovers(const std::filesystem::path& folder);

}  // namespace device
