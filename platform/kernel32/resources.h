// Compiled resources (.res files from the resource compiler) as modules the Win32 resource
// functions look into, and the way a program's embedded .res becomes its module.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace resources {

// Makes a compiled .res file a module. `data` must stay valid for the life of the process (the
// generated code of tavonne_add_resources passes a static array); `isProgram` marks the module
// that GetModuleHandleW(NULL) gives (otherwise the one embedded .res, when there is only one).
HINSTANCE AddEmbedded(std::string_view name, const unsigned char* data, std::size_t size,
                      bool isProgram);

// The module of an embedded .res by its name (the .rc file's name without its extension), or
// NULL when there is none.
HINSTANCE ModuleNamed(std::string_view name);
// The process's own module: what GetModuleHandleW(NULL) gives and a NULL module stands for.
HINSTANCE ProgramModule();

// The bytes of a resource; `type` and `name` as FindResourceW takes them (MAKEINTRESOURCE
// numbers, names, or "#123").
std::optional<std::span<const unsigned char>> Find(HINSTANCE module, LPCWSTR type, LPCWSTR name);
// A string of the module's string table; nothing when the table has no such string.
std::optional<std::u16string> String(HINSTANCE module, UINT id);
// The same string where it lies in the module's data.
std::optional<std::span<const char16_t>> StringInTable(HINSTANCE module, UINT id);
// How many bytes of resource data there are from `p` to the end of its resource, when `p`
// points into a resource of some module; nothing otherwise.
std::optional<std::size_t> BytesAvailable(const void* p);

}  // namespace resources
