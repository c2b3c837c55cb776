// The entry of a command on Windows (tavonne-device): its arguments word by word, as the console
// splits them, in UTF-8 as on Linux; its standard streams byte for byte.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include "programs/entry/entry.h"
#include "wide_text.h"

int wmain(int argc, wchar_t** argv) {
    for (FILE* stream : {stdin, stdout, stderr})
        _setmode(_fileno(stream), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(Utf8(argv[i]));
    return ProgramMain(args);
}
