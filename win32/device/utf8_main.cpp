// The entry of the device's programs on Windows: their main() takes UTF-8 arguments as on Linux,
// and their output goes out byte for byte.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "wide_text.h"

int Utf8Main(int argc, char** argv);

namespace {

#ifdef TAVONNE_WHOLE_COMMAND_LINE
// What follows the program's name on its command line, as the phone hands it over: one string.
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
#endif

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> arguments;
#ifdef TAVONNE_WHOLE_COMMAND_LINE
    arguments.push_back(Utf8(argv[0]));
    if (const std::wstring rest = Parameters(); !rest.empty())
        arguments.push_back(Utf8(rest.c_str()));
#else
    for (int i = 0; i < argc; ++i)
        arguments.push_back(Utf8(argv[i]));
#endif
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return Utf8Main(static_cast<int>(arguments.size()), pointers.data());
}
