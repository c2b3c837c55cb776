// The script front end: one key a line from a descriptor, SNAP printing the screen, TYPE typing
// text, and event lines for what a person would notice off the screen.
#include "platform/phone/script_frontend.h"

#include <unistd.h>

#include <cerrno>

#include "device/paths.h"
#include "platform/phone/frontend.h"
#include "platform/phone/render.h"
#include "base/text.h"

namespace frontend {

namespace {

struct NamedKey {
    std::string_view name;
    keys::Key key;
};

constexpr NamedKey kNamedKeys[] = {
    {"SOFT1", keys::kSoftKey1}, {"SOFT2", keys::kSoftKey2}, {"UP", keys::kUp},
    {"DOWN", keys::kDown},      {"LEFT", keys::kLeft},      {"RIGHT", keys::kRight},
    {"ACTION", keys::kAction},  {"BACK", keys::kBack},      {"*", keys::kStar},
    {"#", keys::kPound},
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A field of an event line, kept on its line: '%' and every control character (a tab, a line
// feed, a carriage return, ...) are written as '%' and two hex digits, as in a URL.
std::string EventField(std::u16string_view field) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (char c : text::ToUtf8(field)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '%' || byte < 0x20 || byte == 0x7F) {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

// The start of a line for a message: at most this many characters, never half of one.
constexpr std::size_t kQuotedCharacters = 80;
std::string_view Quoted(std::string_view line) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        // Each UTF-8 character starts with a byte that is not a continuation byte.
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 &&
            ++characters > kQuotedCharacters)
            return line.substr(0, i);
    }
    return line;
}

}  // namespace

ScriptLine ParseScriptLine(std::string_view line) {
    while (!line.empty() && IsBlank(line.front()))
        line.remove_prefix(1);
    ScriptLine parsed;
    if (line.empty())
        return parsed;
    // TYPE's text is everything after its one blank, blanks included.
    if (line == "TYPE" || line.starts_with("TYPE ")) {
        parsed.kind = ScriptLine::Kind::Type;
        if (line.size() > 4)
            parsed.text = text::FromUtf8(line.substr(5));
        return parsed;
    }
    while (!line.empty() && IsBlank(line.back()))
        line.remove_suffix(1);
    // "#" alone is the pound key; longer lines starting with it are comments.
    if (line.size() > 1 && line.front() == '#')
        return parsed;
    if (line == "SNAP") {
        parsed.kind = ScriptLine::Kind::Snap;
        return parsed;
    }
    if (line.size() == 1 && line[0] >= '0' && line[0] <= '9') {
        parsed.kind = ScriptLine::Kind::Key;
        parsed.key = keys::Key::Digit(line[0] - '0');
        return parsed;
    }
    for (const NamedKey& named : kNamedKeys) {
        if (line == named.name) {
            parsed.kind = ScriptLine::Kind::Key;
            parsed.key = named.key;
            return parsed;
        }
    }
    parsed.kind = ScriptLine::Kind::Unknown;
    return parsed;
}

ScriptFrontEnd::ScriptFrontEnd(int input, std::FILE* output, std::FILE* errors)
    : input_(input), output_(output), errors_(errors) {}

std::optional<std::string> ScriptFrontEnd::ReadLine() {
    while (true) {
        // Only what came since the last look is searched, so a long line costs its length once.
        std::size_t end = buffer_.find('\n', searched_);
        searched_ = buffer_.size();
        if (end != std::string::npos || (ended_ && !buffer_.empty())) {
            searched_ = 0;
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end == std::string::npos ? buffer_.size() : end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            ++lineNumber_;
            return line;
        }
        if (ended_)
            return std::nullopt;
        WaitForInput(input_);
        char chunk[4096];
        ssize_t count = read(input_, chunk, sizeof chunk);
        if (count > 0)
            buffer_.append(chunk, static_cast<std::size_t>(count));
        else if (count == 0 || (errno != EINTR && errno != EAGAIN))
            ended_ = true;
    }
}

std::optional<keys::Key> ScriptFrontEnd::NextKey() {
    while (true) {
        if (!pending_.empty()) {
            keys::Key key = pending_.front();
            pending_.pop_front();
            return key;
        }
        std::optional<std::string> line = ReadLine();
        if (!line)
            return std::nullopt;
        ScriptLine parsed = ParseScriptLine(*line);
        switch (parsed.kind) {
            case ScriptLine::Kind::Skip:
                break;
            case ScriptLine::Kind::Key:
                return parsed.key;
            case ScriptLine::Kind::Type:
                for (char16_t c : parsed.text)
                    pending_.push_back(keys::Key::Char(c));
                break;
            case ScriptLine::Kind::Snap:
                Snap();
                break;
            case ScriptLine::Kind::Unknown:
                const std::string_view quoted = Quoted(*line);
                std::fprintf(errors_, "tavonne: line %d: unknown key \"%s%s\"\n", lineNumber_,
                             device::EscapedName(quoted).c_str(),
                             quoted.size() < line->size() ? "..." : "");
                std::fflush(errors_);
                break;
        }
    }
}

void ScriptFrontEnd::ReportInputEnded() {
    std::fputs("tavonne: input ended while a screen is open\n", errors_);
    std::fflush(errors_);
}

void ScriptFrontEnd::Foreground() {
    std::fputs("event: foreground\n", output_);
    std::fflush(output_);
}

void ScriptFrontEnd::Launched(std::u16string_view file, std::u16string_view parameters) {
    std::string line = "event: launch\t" + EventField(file) + "\t" + EventField(parameters) + "\n";
    std::fwrite(line.data(), 1, line.size(), output_);
    std::fflush(output_);
}

void ScriptFrontEnd::Snap() {
    render::Grid grid = render::DrawScreen();
    for (int row = 0; row < grid.Rows(); ++row) {
        std::string text = grid.RowText(row);
        std::fwrite(text.data(), 1, text.size(), output_);
        std::fputc('\n', output_);
    }
    std::fputs("----\n", output_);
    std::fflush(output_);
}

}  // namespace frontend
