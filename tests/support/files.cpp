// Whole files read in one piece.
#include "support/files.h"

#include <fstream>
#include <sstream>

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    // In blocks: a character at a time takes seconds for a large file in the sanitizers' build.
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

std::vector<unsigned char> ReadBytes(const std::filesystem::path& file) {
    const std::string bytes = ReadFile(file);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}
