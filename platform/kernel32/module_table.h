// A resource module as the module table keeps it, and adding one to the table: used by
// resources.cpp, and by the test library to add modules of its own bytes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace resources {

// A resource type or name: a number, or a name compared without regard to case.
struct Id {
    bool isNumber = true;
    WORD number = 0;
    std::u16string name;
};

struct Entry {
    Id type;
    Id name;
    WORD language = 0;
    std::size_t offset = 0;
    std::size_t size = 0;
};

struct Module {
    std::string name;
    bool embedded = false;  // compiled into the program by tavonne_add_resources
    bool isProgram = false;
    const unsigned char* data = nullptr;  // valid for the life of the process
    std::size_t size = 0;
    std::vector<Entry> entries;  // filled by Add from the data
};

// Adds a module to the table, which keeps it for the life of the process: its handle.
HINSTANCE Add(Module module);

}  // namespace resources
