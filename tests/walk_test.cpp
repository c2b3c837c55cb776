// Random walks through the program, each run on the Linux build and on the Windows build (under
// Wine) from the same phone: every screen shown, the launches, the exit status and the registry
// afterwards must be the same, but for the differences listed here with their reasons.
//
// TAVONNE_WALK_SEED=N picks other walks (the default is fixed, so that a failure repeats) and
// TAVONNE_WALKS=N runs more of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;

struct Build {
    const char* name;
    const char* program;
    const char* tool;
};

const Build kLinux = {"Linux", TAVONNE_LINUX_PROGRAM, TAVONNE_LINUX_TOOL};
const Build kWindows = {"Windows", TAVONNE_WINE_PROGRAM, TAVONNE_WINE_TOOL};

const std::string kRing = "HKCU\\ControlPanel\\Sounds\\RingTone0";
const std::string kSms = "HKCU\\ControlPanel\\Sounds\\SMS";
const std::string kApp = "HKCU\\Software\\Tavonne";

// Where the two builds show the same screen differently, on purpose. A screen is compared as the
// lines a person reads: box drawing, the icon's blocks, the caret and runs of blanks are left
// out, and the lines of one text are joined (the Linux build wraps a long text at the terminal's
// width, the Windows build shows it whole). An open list is compared by its title, its selected
// row and its soft keys only: each build shows as many rows around the selected one as its screen
// holds (14 text rows on Linux, 10 rows of 17 pixels on Windows).
const char* const kAccepted[] = {
    "long texts are wrapped at the terminal's width on Linux and at the window's on Windows",
    "an open list shows as many rows around its selected row as each screen holds",
    "the Linux terminal draws boxes, the icon as blocks and the caret; Windows draws pictures",
};

std::string Environment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

std::string WithoutAny(std::string line, const std::vector<std::string>& marks) {
    for (const std::string& mark : marks) {
        for (size_t at; (at = line.find(mark)) != std::string::npos;)
            line.erase(at, mark.size());
    }
    return line;
}

// One line as compared: drawing left out, blanks collapsed, ">" kept as the mark of the focus.
std::string Plain(const std::string& raw) {
    std::string line =
        WithoutAny(raw, {"│", "┌", "┐", "└", "┘", "─", "▲", "▼", "▏", "▄", "█", "▀", "\r"});
    std::string collapsed;
    for (char c : line) {
        if (c == ' ' && (collapsed.empty() || collapsed.back() == ' '))
            continue;
        collapsed += c;
    }
    while (!collapsed.empty() && collapsed.back() == ' ')
        collapsed.pop_back();
    for (size_t at; (at = collapsed.find(" ]")) != std::string::npos;)
        collapsed.erase(at, 1);
    return collapsed;
}

// A screen as compared: its title, its lines with the lines of one text joined, its soft keys.
std::vector<std::string> Canonical(const std::string& screen) {
    std::vector<std::string> lines;
    std::istringstream rows(screen);
    for (std::string row; std::getline(rows, row);) {
        const std::string line = Plain(row);
        if (!line.empty())
            lines.push_back(line);
    }
    if (lines.size() < 2)
        return lines;
    const bool openList = lines.back() == "OK Annuler";
    std::vector<std::string> kept = {lines.front()};
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        const bool marked = line[0] == '>';
        if (openList && !marked)
            continue;
        const bool text = !marked && !StartsWith(line, "◀") && !StartsWith(line, "[");
        const bool previousText = kept.size() > 1 && kept.back()[0] != '>' &&
                                  !StartsWith(kept.back(), "◀") && !StartsWith(kept.back(), "[");
        if (text && previousText)
            kept.back() += " " + line;
        else
            kept.push_back(line);
    }
    kept.push_back(lines.back());
    return kept;
}

struct WalkResult {
    int exitCode = -1;
    std::vector<std::vector<std::string>> screens;
    std::vector<std::string> events;
    std::vector<std::string> registry;
};

std::string Query(const Build& build, const std::string& key, const std::string& name) {
    const ProgramResult query = RunProgram(build.tool, {"reg", "query", key, "/v", name});
    const std::string marker = "    REG_SZ    ";
    const size_t at = query.out.find(marker);
    if (query.exitCode != 0 || at == std::string::npos)
        return name + " missing";
    const size_t end = query.out.find_first_of("\r\n", at);
    return name + " = " + query.out.substr(at + marker.size(), end - at - marker.size());
}

// The phone's values, the same on both builds before a walk.
struct Phone {
    std::string ring, script, sms;
    bool firstStart = false;
};

void Prepare(const Build& build, const Phone& phone) {
    const ProgramResult init = RunProgram(build.tool, {"init"});
    ASSERT_EQ(init.exitCode, 0) << build.name << ": " << init.out << init.err;
    RunProgram(build.tool, {"reg", "delete", kApp, "/f"});
    const std::vector<std::vector<std::string>> values = {
        {kRing, "Sound", phone.ring}, {kRing, "Script", phone.script}, {kSms, "Sound", phone.sms}};
    for (const auto& value : values) {
        const ProgramResult added =
            RunProgram(build.tool, {"reg", "add", value[0], "/v", value[1], "/d", value[2], "/f"});
        ASSERT_EQ(added.exitCode, 0) << build.name << added.err;
    }
    if (!phone.firstStart)
        RunProgram(build.tool, {"reg", "add", kApp, "/v", "Dossier", "/d", "\\Sons\\", "/f"});
}

WalkResult Walk(const Build& build, const Phone& phone, const std::string& keys) {
    Prepare(build, phone);
    const ProgramResult result = RunProgram(build.program, {}, keys);
    WalkResult run;
    run.exitCode = result.exitCode;
    std::istringstream lines(result.out);
    std::string screen;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (StartsWith(line, "event: ")) {
            run.events.push_back(line);
        } else if (line == "----") {
            run.screens.push_back(Canonical(screen));
            screen.clear();
        } else {
            screen += line + "\n";
        }
    }
    run.registry = {Query(build, kApp, "Dossier"), Query(build, kRing, "Sound"),
                    Query(build, kRing, "Script"), Query(build, kSms, "Sound")};
    return run;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += "    " + line + "\n";
    return text;
}

// How the two runs differ, or "" when they agree.
std::string Difference(const WalkResult& onLinux, const WalkResult& onWindows) {
    const size_t screens = std::max(onLinux.screens.size(), onWindows.screens.size());
    for (size_t i = 0; i < screens; ++i) {
        const std::vector<std::string> none = {"(no screen)"};
        const auto& a = i < onLinux.screens.size() ? onLinux.screens[i] : none;
        const auto& b = i < onWindows.screens.size() ? onWindows.screens[i] : none;
        if (a != b)
            return "screen " + std::to_string(i + 1) + ":\n  Linux:\n" + Joined(a) +
                   "  Windows:\n" + Joined(b);
    }
    if (onLinux.events != onWindows.events)
        return "launches:\n  Linux:\n" + Joined(onLinux.events) + "  Windows:\n" +
               Joined(onWindows.events);
    if (onLinux.exitCode != onWindows.exitCode)
        return "exit status: Linux " + std::to_string(onLinux.exitCode) + ", Windows " +
               std::to_string(onWindows.exitCode);
    if (onLinux.registry != onWindows.registry)
        return "registry afterwards:\n  Linux:\n" + Joined(onLinux.registry) + "  Windows:\n" +
               Joined(onWindows.registry);
    return "";
}

// A walk of random keys, a SNAP after each. Typing is kept short, so that the folder field shows
// its whole text on both builds.
std::string RandomKeys(std::mt19937& random) {
    static const char* const keys[] = {"SOFT2", "SOFT2",  "UP",     "DOWN", "LEFT",  "RIGHT",
                                       "RIGHT", "ACTION", "ACTION", "BACK", "1",     "2",
                                       "3",     "4",      "*",      "#",    "SOFT1", "TYPE"};
    static const char* const typed[] = {"a", "b", "C", "s", "1", "é", "😀", "\\"};
    std::string script;
    int typing = 0;
    const int count = std::uniform_int_distribution<int>(4, 14)(random);
    for (int i = 0; i < count; ++i) {
        std::string key =
            keys[std::uniform_int_distribution<size_t>(0, std::size(keys) - 1)(random)];
        if (key == "TYPE") {
            if (++typing > 3)
                continue;
            key += std::string(" ") +
                   typed[std::uniform_int_distribution<size_t>(0, std::size(typed) - 1)(random)];
        }
        script += key + "\nSNAP\n";
    }
    return script;
}

Phone RandomPhone(std::mt19937& random) {
    static const char* const rings[] = {"\\Windows\\Standard.wav", "\\Sons\\Carillon.wav",
                                        "\\Ailleurs\\perdu.wav"};
    static const char* const scripts[] = {"apw1r", "apw3r", "APW2R"};
    static const char* const smses[] = {"\\Windows\\Notify.mid", "\\Windows\\Strum.mid"};
    auto pick = [&](const auto& choices) {
        return std::string(
            choices[std::uniform_int_distribution<size_t>(0, std::size(choices) - 1)(random)]);
    };
    Phone phone{pick(rings), pick(scripts), pick(smses)};
    phone.firstStart = std::uniform_int_distribution<int>(0, 4)(random) == 0;
    return phone;
}

TEST(BuildsWalk, LinuxAndWindowsAgreeOnEveryScreen) {
    TempDevice device;
    const unsigned seed = std::stoul(Environment("TAVONNE_WALK_SEED", "15"));
    const int walks = std::stoi(Environment("TAVONNE_WALKS", "24"));
    std::cout << "seed " << seed << ", " << walks << " walks; accepted differences:\n";
    for (const char* accepted : kAccepted)
        std::cout << "  " << accepted << "\n";
    int disagreeing = 0;
    for (int walk = 0; walk < walks; ++walk) {
        std::mt19937 random(seed + walk);
        const Phone phone = RandomPhone(random);
        const std::string keys = RandomKeys(random);
        // The tones of the user's folder, on the one phone both builds share.
        fs::create_directories(device.Folder() / "fs" / "Sons");
        for (const char* tone : {"Carillon.wav", "100% jazz.mid"})
            std::ofstream(device.Folder() / "fs" / "Sons" / tone) << "tone";
        const WalkResult onLinux = Walk(kLinux, phone, keys);
        const WalkResult onWindows = Walk(kWindows, phone, keys);
        const std::string difference = Difference(onLinux, onWindows);
        if (!difference.empty()) {
            ++disagreeing;
            ADD_FAILURE() << "walk " << walk << " (seed " << seed + walk << ")"
                          << (phone.firstStart ? ", first start" : "") << ", ring " << phone.ring
                          << ", keys:\n"
                          << keys << difference;
        }
    }
    std::cout << disagreeing << " of " << walks << " walks disagree\n";
}

}  // namespace
