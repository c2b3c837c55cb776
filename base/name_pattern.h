// Whether a file name matches a search pattern, as the phone's file search matches them: against
// the whole name (the phone has no short 8.3 names), without regard to case. Used by the file
// search of each platform.
#pragma once

#include <cstddef>
#include <string_view>

namespace text {

// Whether the pattern is a star followed by units that are no wildcards.
inline bool IsStarThenPlain(std::u16string_view pattern) {
    if (pattern.empty() || pattern[0] != u'*')
        return false;
    for (size_t i = 1; i < pattern.size(); ++i) {
        if (pattern[i] == u'*' || pattern[i] == u'?')
            return false;
    }
    return true;
}

// Whether folded units end with the folded tail.
template <typename Units>
bool EndsWith(const Units& name, std::u16string_view tail) {
    if (name.size() < tail.size())
        return false;
    const size_t start = name.size() - tail.size();
    for (size_t i = 0; i < tail.size(); ++i) {
        if (tail[i] != name[start + i])
            return false;
    }
    return true;
}

// Matches folded units against a folded pattern: `*` takes any run of units (also none), `?`
// exactly one.
template <typename Units>
bool GlobMatch(std::u16string_view pattern, const Units& name) {
    size_t p = 0, n = 0;
    size_t starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// Win32 rule: a pattern ending in ".*" also takes names without that extension, so "*.*"
// matches every name and "a.*" matches "a".
template <typename Units>
bool PatternMatches(std::u16string_view foldedPattern, const Units& foldedName) {
    if (GlobMatch(foldedPattern, foldedName))
        return true;
    return foldedPattern.ends_with(u".*") &&
           GlobMatch(foldedPattern.substr(0, foldedPattern.size() - 2), foldedName);
}

// A folded pattern looked at once, for a search that matches many names against it. The usual
// pattern, a star and a plain tail ("*.WAV"), is told then: the end of a name alone decides.
class FoldedPattern {
  public:
    explicit FoldedPattern(std::u16string_view folded)
        : units_(folded), starThenPlain_(IsStarThenPlain(folded)) {}

    template <typename Units>
    bool Matches(const Units& foldedName) const {
        return starThenPlain_ ? EndsWith(foldedName, units_.substr(1))
                              : PatternMatches(units_, foldedName);
    }

  private:
    std::u16string_view units_;
    bool starThenPlain_;
};

}  // namespace text
