// The entry of a program the phone launches, on Windows (the player): ShellExecuteEx hands it its
// parameter string whole, which becomes its one argument after its name, in UTF-8 as on Linux
// (where the platform's ShellExecuteExW passes it so).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "programs/entry/entry.h"
#include "wide_text.h"

namespace {

// What follows the program's name on its command line.
std::wstring Parameters() {
    const wchar_t* line = GetCommandLineW();
    if (*line == L'"') {
        ++line;
        while (*line != L'\0' && *line != L'"')
            ++line;
        if (*line == L'"')
            ++line;
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t')
            ++line;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return line;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    for (FILE* stream : {stdin, stdout, stderr})
        _setmode(_fileno(stream), _O_BINARY);
    std::vector<std::string> args{Utf8(argv[0])};
    if (const std::wstring parameters = Parameters(); !parameters.empty())
        args.push_back(Utf8(parameters));
    return ProgramMain(args);
}
