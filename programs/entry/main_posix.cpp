// The programs' entry on Linux: the arguments are already UTF-8, as the terminal and the
// platform's ShellExecuteExW pass them.
#include "programs/entry/entry.h"

int main(int argc, char** argv) {
    return ProgramMain(std::vector<std::string>(argv, argv + argc));
}
