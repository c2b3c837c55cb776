// Our platform against Wine: platform_probe asks the registry and the file search the questions
// the app relies on, once built on our platform and once under Wine, in the same device folder;
// every answer must be the same but for the differences listed here, which must still differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;

// An answer's names, the words before its final "then <error>".
std::vector<std::string> Names(const std::string& answer) {
    std::vector<std::string> names;
    std::istringstream words(answer.substr(0, answer.rfind("then ")));
    for (std::string word; words >> word;)
        names.push_back(word);
    return names;
}

std::string WithNames(const std::vector<std::string>& names, const std::string& answer) {
    std::string joined;
    for (const std::string& name : names)
        joined += name + " ";
    const size_t then = answer.rfind("then ");
    return joined + (then == answer.npos ? "" : answer.substr(then));
}

template <typename Keep>
std::string Only(const std::string& answer, Keep keep) {
    std::vector<std::string> kept;
    for (const std::string& name : Names(answer)) {
        if (keep(name))
            kept.push_back(name);
    }
    return WithNames(kept, answer);
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string WithoutDots(const std::string& answer) {
    return Only(answer, [](const std::string& name) { return name != "./" && name != "../"; });
}

std::string WithoutShortNameMatches(const std::string& answer) {
    return Only(answer,
                [](const std::string& name) { return name != "c.wave" && name != "z.midi"; });
}

std::string AsOurPlatformNamesOdd(const std::string& answer) {
    std::string kept = Only(WithoutDots(answer), [](const std::string& name) {
        return name.find('\\') == name.npos && name.find("<00") == name.npos;
    });
    for (size_t at; (at = kept.find("<FFFD>")) != kept.npos;)
        kept.replace(at, 6, "<DCFF>");
    std::vector<std::string> names = Names(kept);
    std::sort(names.begin(), names.end());
    return WithNames(names, kept);
}

std::string SortedNames(const std::string& answer) {
    std::vector<std::string> names = Names(answer);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    return WithNames(names, answer);
}

// Where Wine and our platform answer differently on purpose: both answers, put through `alike`,
// must be equal, and the raw answers must still differ.
struct KnownDifference {
    const char* question;
    const char* reason;
    std::string (*alike)(const std::string&);
};

const char kShortNames[] =
    "Windows and Wine also match a pattern against a name's 8.3 short name (C~1.WAV, Z~1.MID), so "
    "*.wav finds c.wave and *.mid z.midi; the phone's file system has no short names";
const char kDots[] =
    "Windows and Wine list . and .. in a folder; the phone's file system has no such entries "
    "(the app only searches for *.wav and *.mid)";

const KnownDifference kKnownDifferences[] = {
    {"subkeys",
     "Wine, like desktop Windows, enumerates subkeys sorted by name, our store in the order they "
     "were made; the order is not documented and the app never enumerates keys",
     SortedNames},
    {"find \\Probe\\*.wav", kShortNames, WithoutShortNameMatches},
    {"find \\Probe\\*.WAV", kShortNames, WithoutShortNameMatches},
    {"find \\Probe\\*.mid", kShortNames, WithoutShortNameMatches},
    {"find \\..\\Probe\\*.wav", kShortNames, WithoutShortNameMatches},
    {"find \\Probe.\\*.wav", kShortNames, WithoutShortNameMatches},
    {"find \\Probe\\*", kDots, WithoutDots},
    {"find \\Probe\\Odd\\*",
     "Wine returns host names with a backslash or a control character, which no phone could "
     "hold and our platform skips, and shows an invalid UTF-8 byte as U+FFFD where our platform "
     "keeps it as U+DC80 + byte, which maps back to the same file",
     AsOurPlatformNamesOdd},
};

// The probe's lines as question -> answer, in their order.
std::vector<std::pair<std::string, std::string>> Facts(const std::string& output) {
    std::vector<std::pair<std::string, std::string>> facts;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        // Windows' standard output ends its lines with CR LF.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t colon = line.find(": ");
        facts.emplace_back(line.substr(0, colon), colon == line.npos ? "" : line.substr(colon + 2));
    }
    return facts;
}

void Touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

const KnownDifference* Known(const std::string& question) {
    for (const KnownDifference& known : kKnownDifferences) {
        if (question == known.question)
            return &known;
    }
    return nullptr;
}

TEST(PlatformAgainstWine, AnswersAlikeButForTheListedDifferences) {
    TempDevice device;
    const fs::path probe = device.Folder() / "fs" / "Probe";
    for (const char* name : {"a.wav", "B.WAV", "c.wave", "z.midi", "x1.mid", "x22.mid",
                             "\xc3\x89t\xc3\xa9.mid", "Dossier.mid/keep", "Odd/plain.wav",
                             "Odd/back\\slash.wav", "Odd/tab\t.wav", "Odd/\xff.wav"})
        Touch(probe / name);

    const ProgramResult ours = RunProgram(TAVONNE_LINUX_PROBE, {});
    const ProgramResult wine = RunProgram(TAVONNE_WINE_RUN, {TAVONNE_WINDOWS_PROBE});
    ASSERT_EQ(ours.exitCode, 0) << ours.err;
    ASSERT_EQ(wine.exitCode, 0) << wine.err;
    const auto ourFacts = Facts(ours.out);
    const auto wineFacts = Facts(wine.out);
    ASSERT_EQ(ourFacts.size(), wineFacts.size()) << ours.out << "---\n" << wine.out;
    for (size_t i = 0; i < ourFacts.size(); ++i) {
        const auto& [question, answer] = ourFacts[i];
        ASSERT_EQ(question, wineFacts[i].first);
        if (const KnownDifference* known = Known(question)) {
            EXPECT_NE(answer, wineFacts[i].second)
                << question << ": listed as different (" << known->reason << ") but now alike";
            EXPECT_EQ(known->alike(answer), known->alike(wineFacts[i].second))
                << question << " (beyond: " << known->reason << ")";
        } else {
            EXPECT_EQ(answer, wineFacts[i].second) << question;
        }
    }
}

}  // namespace
