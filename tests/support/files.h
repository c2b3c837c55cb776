// Whole files read in one piece.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);
std::vector<unsigned char> ReadBytes(const std::filesystem::path& file);
