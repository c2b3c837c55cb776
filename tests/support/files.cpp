// Whole files read in one piece.
#include "support/files.h"

#include <fstream>
#include <iterator>

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<unsigned char> ReadBytes(const std::filesystem::path& file) {
    const std::string bytes = ReadFile(file);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}
