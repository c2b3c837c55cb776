// The entry of the programs that stand on the platform, the same on every platform: the
// platform's main (main_posix.cpp, main_win32.cpp, launched_main_win32.cpp) hands the program its
// command line in UTF-8, the program's name first, and leaves its standard streams byte for byte.
#pragma once

#include <string>
#include <vector>

// Defined by each program.
int ProgramMain(const std::vector<std::string>& args);
