// The script front end: keys read one per line, the screen printed on request, and what a
// person would notice off the screen printed as event lines.
#pragma once

#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "platform/user32/keys.h"

namespace frontend {

// What one line of a script asks for.
struct ScriptLine {
    enum class Kind {
        Skip,     // a blank line or a comment ("#" and more)
        Key,      // SOFT1, SOFT2, UP, DOWN, LEFT, RIGHT, ACTION, BACK, 0-9, *, #
        Type,     // TYPE text: the text's characters
        Snap,     // SNAP: print the screen
        Unknown,  // anything else
    };
    Kind kind = Kind::Skip;
    keys::Key key;
    std::u16string text;  // what TYPE types
};

// Reads a line without its end ("\n", and a "\r" before it).
ScriptLine ParseScriptLine(std::string_view line);

class ScriptFrontEnd {
  public:
    // Reads the script from the descriptor `input` (unbuffered, so that it can be waited on with
    // other descriptors); writes screens and events to `output`, complaints to `errors`.
    ScriptFrontEnd(int input, std::FILE* output, std::FILE* errors);

    // The next key of the script, printing the screens it asks for meanwhile; nothing at the end
    // of the script. While it waits it answers other copies of the program.
    std::optional<keys::Key> NextKey();
    // Says on the error stream that the script ended while a screen is open.
    void ReportInputEnded();
    // Another copy has brought this one to the front.
    void Foreground();
    // A program has been launched.
    void Launched(std::u16string_view file, std::u16string_view parameters);
    // Prints the screen: each row in UTF-8 without its trailing blanks, then "----".
    void Snap();

  private:
    // The next line, without its end; nothing once the input has ended.
    std::optional<std::string> ReadLine();

    int input_;
    std::FILE* output_;
    std::FILE* errors_;
    std::string buffer_;
    bool ended_ = false;
    int lineNumber_ = 0;
    std::deque<keys::Key> pending_;  // what the last TYPE has still to type
};

}  // namespace frontend
