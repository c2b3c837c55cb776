// README's commands as a newcomer copies them: each shell block parses in bash, and no code
// block escapes the check by having no language.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/program.h"

namespace {

struct Block {
    std::string language;
    int line = 0;  // of its opening fence
    std::string text;
};

TEST(Readme, EveryShellBlockParsesInBashAndEveryCodeBlockIsFenced) {
    std::ifstream readme(TAVONNE_README);
    ASSERT_TRUE(readme);
    std::vector<Block> blocks;
    bool inside = false;
    int number = 0;
    for (std::string line; std::getline(readme, line);) {
        ++number;
        if (line.rfind("```", 0) == 0) {
            inside = !inside;
            if (inside)
                blocks.push_back({line.substr(3), number, ""});
            continue;
        }
        if (inside)
            blocks.back().text += line + "\n";
        else
            EXPECT_NE(line.rfind("    ", 0), 0u) << "README.md:" << number << ": unfenced code";
    }
    EXPECT_FALSE(inside) << "an unclosed fence";
    int shell = 0;
    for (const Block& block : blocks) {
        EXPECT_FALSE(block.language.empty()) << "README.md:" << block.line;
        if (block.language != "sh")
            continue;
        ++shell;
        const ProgramResult parsed = RunProgram("/bin/bash", {"-n", "-c", block.text});
        EXPECT_EQ(parsed.exitCode, 0) << "README.md:" << block.line << "\n"
                                      << block.text << parsed.err;
    }
    EXPECT_GE(shell, 8);
}

}  // namespace
