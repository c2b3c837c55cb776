// Resource modules over compiled .res data: FindResourceW, LoadResource, LockResource,
// SizeofResource and GetModuleHandleW.
#include "platform/kernel32/resources.h"
#include "platform/kernel32/module_table.h"

#include <cstring>
#include <deque>
#include <mutex>

#include "base/text.h"

#ifndef ERROR_MOD_NOT_FOUND
#define ERROR_MOD_NOT_FOUND 126L
#endif

namespace resources {

namespace {

constexpr uintptr_t kProgramHandle = 0x00400000;
constexpr uintptr_t kFirstModuleHandle = 0x10000000;
constexpr uintptr_t kModuleHandleStep = 0x00010000;

// The resource modules of the process. Modules live for the whole process; deque keeps their
// addresses stable.
struct ModuleTable {
    std::mutex mutex;
    std::deque<Module> modules;
};

ModuleTable& TheModuleTable() {
    static ModuleTable table;
    return table;
}

WORD Word(const unsigned char* p) {
    return static_cast<WORD>(p[0] | p[1] << 8);
}

DWORD Dword(const unsigned char* p) {
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
           static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
}

// Reads a type or name field of a resource header at `pos`; false when it runs past `end`.
bool ReadId(const unsigned char* data, std::size_t& pos, std::size_t end, Id& id) {
    if (pos + 2 > end)
        return false;
    if (Word(data + pos) == 0xFFFF) {
        if (pos + 4 > end)
            return false;
        id.isNumber = true;
        id.number = Word(data + pos + 2);
        pos += 4;
        return true;
    }
    id.isNumber = false;
    id.name.clear();
    while (true) {
        if (pos + 2 > end)
            return false;
        char16_t c = Word(data + pos);
        pos += 2;
        if (c == 0)
            return true;
        id.name.push_back(c);
    }
}

// A .res file is a sequence of records: DataSize, HeaderSize, type, name, (DWORD alignment),
// DataVersion, MemoryFlags, LanguageId, Version, Characteristics, then the data padded to a
// DWORD. Parsing stops at the first record that does not fit.
std::vector<Entry> Parse(const unsigned char* data, std::size_t size) {
    std::vector<Entry> entries;
    std::size_t pos = 0;
    while (pos + 8 <= size) {
        DWORD dataSize = Dword(data + pos);
        DWORD headerSize = Dword(data + pos + 4);
        if (headerSize < 16 || headerSize > size - pos || dataSize > size - pos - headerSize)
            break;
        std::size_t headerEnd = pos + headerSize;
        std::size_t field = pos + 8;
        Entry entry;
        if (!ReadId(data, field, headerEnd, entry.type) ||
            !ReadId(data, field, headerEnd, entry.name))
            break;
        field = (field + 3) & ~std::size_t{3};
        if (field + 16 > headerEnd)
            break;
        entry.language = Word(data + field + 6);
        entry.offset = headerEnd;
        entry.size = dataSize;
        // The first record of every .res file is an empty one with type 0.
        if (!(entry.type.isNumber && entry.type.number == 0))
            entries.push_back(std::move(entry));
        pos = (headerEnd + dataSize + 3) & ~std::size_t{3};
    }
    return entries;
}

Id IdFrom(LPCWSTR value) {
    Id id;
    if (IS_INTRESOURCE(value)) {
        id.number = static_cast<WORD>(reinterpret_cast<uintptr_t>(value));
        return id;
    }
    std::u16string_view name(value, text::Length(value));
    // "#123" names the number 123.
    if (name.size() > 1 && name[0] == u'#') {
        unsigned long number = 0;
        bool digits = true;
        for (char16_t c : name.substr(1)) {
            if (c < u'0' || c > u'9' || number > 0xFFFF) {
                digits = false;
                break;
            }
            number = number * 10 + (c - u'0');
        }
        if (digits && number <= 0xFFFF) {
            id.number = static_cast<WORD>(number);
            return id;
        }
    }
    id.isNumber = false;
    id.name = name;
    return id;
}

bool Matches(const Id& a, const Id& b) {
    if (a.isNumber != b.isNumber)
        return false;
    return a.isNumber ? a.number == b.number : text::EqualNoCase(a.name, b.name);
}

HINSTANCE HandleOf(std::size_t index) {
    return reinterpret_cast<HINSTANCE>(kFirstModuleHandle + index * kModuleHandleStep);
}

// The index of the module a handle stands for, with the table locked; NULL handles are the
// program's.
std::optional<std::size_t> ModuleIndex(ModuleTable& table, HINSTANCE handle) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value == kProgramHandle) {
        std::optional<std::size_t> only;
        int embedded = 0;
        for (std::size_t i = 0; i < table.modules.size(); ++i) {
            if (table.modules[i].isProgram)
                return i;
            if (table.modules[i].embedded) {
                ++embedded;
                only = i;
            }
        }
        return embedded == 1 ? only : std::nullopt;
    }
    if (value < kFirstModuleHandle || (value - kFirstModuleHandle) % kModuleHandleStep != 0)
        return std::nullopt;
    std::size_t index = (value - kFirstModuleHandle) / kModuleHandleStep;
    if (index >= table.modules.size())
        return std::nullopt;
    return index;
}

// HRSRC values: the module's index and the entry's index, both counted from 1.
HRSRC EncodeResource(std::size_t module, std::size_t entry) {
    return reinterpret_cast<HRSRC>(((module + 1) << 20) | (entry + 1));
}

const Entry* DecodeResource(ModuleTable& table, HRSRC resource, const Module** owner) {
    auto value = reinterpret_cast<uintptr_t>(resource);
    std::size_t module = (value >> 20);
    std::size_t entry = value & 0xFFFFF;
    if (module == 0 || entry == 0 || module > table.modules.size())
        return nullptr;
    const Module& m = table.modules[module - 1];
    if (entry > m.entries.size())
        return nullptr;
    *owner = &m;
    return &m.entries[entry - 1];
}

}  // namespace

HINSTANCE Add(Module module) {
    ModuleTable& table = TheModuleTable();
    std::lock_guard lock(table.mutex);
    module.entries = Parse(module.data, module.size);
    table.modules.push_back(std::move(module));
    return HandleOf(table.modules.size() - 1);
}

std::optional<std::span<const char16_t>> StringInTable(HINSTANCE module, UINT id) {
    auto block = Find(module, RT_STRING, MAKEINTRESOURCE(id / 16 + 1));
    if (!block)
        return std::nullopt;
    const unsigned char* p = block->data();
    std::size_t left = block->size();
    for (UINT index = 0; index <= id % 16; ++index) {
        if (left < 2)
            return std::nullopt;
        std::size_t length = Word(p);
        if (left - 2 < length * 2)
            return std::nullopt;
        if (index == id % 16) {
            if (length == 0)
                return std::nullopt;
            // String data is 16-bit aligned: records are DWORD-aligned and hold whole words.
            return std::span<const char16_t>(reinterpret_cast<const char16_t*>(p + 2), length);
        }
        p += 2 + length * 2;
        left -= 2 + length * 2;
    }
    return std::nullopt;
}

HINSTANCE AddEmbedded(std::string_view name, const unsigned char* data, std::size_t size,
                      bool isProgram) {
    Module module;
    module.name = name;
    module.embedded = true;
    module.isProgram = isProgram;
    module.data = data;
    module.size = size;
    return Add(std::move(module));
}

HINSTANCE ModuleNamed(std::string_view name) {
    ModuleTable& table = TheModuleTable();
    std::lock_guard lock(table.mutex);
    for (std::size_t i = 0; i < table.modules.size(); ++i) {
        if (table.modules[i].name == name)
            return HandleOf(i);
    }
    return nullptr;
}

HINSTANCE ProgramModule() {
    return reinterpret_cast<HINSTANCE>(kProgramHandle);
}

std::optional<std::span<const unsigned char>> Find(HINSTANCE module, LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(module, name, type);
    if (found == nullptr)
        return std::nullopt;
    auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
    return std::span<const unsigned char>(bytes, SizeofResource(module, found));
}

std::optional<std::u16string> String(HINSTANCE module, UINT id) {
    auto found = StringInTable(module, id);
    if (!found)
        return std::nullopt;
    return std::u16string(found->begin(), found->end());
}

std::optional<std::size_t> BytesAvailable(const void* p) {
    auto* byte = static_cast<const unsigned char*>(p);
    ModuleTable& table = TheModuleTable();
    std::lock_guard lock(table.mutex);
    for (const Module& module : table.modules) {
        if (module.size == 0 || byte < module.data || byte >= module.data + module.size)
            continue;
        auto offset = static_cast<std::size_t>(byte - module.data);
        for (const Entry& entry : module.entries) {
            if (offset >= entry.offset && offset < entry.offset + entry.size)
                return entry.offset + entry.size - offset;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace resources

// What the generated code of tavonne_add_resources calls before main().
extern "C" void TavonneRegisterEmbeddedResources(const char* name, const unsigned char* data,
                                                 size_t size, int isProgram) {
    resources::AddEmbedded(name, data, size, isProgram != 0);
}

extern "C" HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    if (lpModuleName == nullptr)
        return resources::ProgramModule();
    HINSTANCE module = resources::ModuleNamed(text::ToUtf8(lpModuleName));
    if (module == nullptr)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

extern "C" HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    using namespace resources;
    if (lpName == nullptr || lpType == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ModuleTable& table = TheModuleTable();
    std::lock_guard lock(table.mutex);
    std::optional<std::size_t> index = ModuleIndex(table, hModule);
    if (!index) {
        SetLastError(reinterpret_cast<uintptr_t>(hModule) == 0 ||
                             reinterpret_cast<uintptr_t>(hModule) == kProgramHandle
                         ? ERROR_RESOURCE_DATA_NOT_FOUND
                         : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const Module* module = &table.modules[*index];
    Id type = IdFrom(lpType);
    Id name = IdFrom(lpName);
    bool typeFound = false;
    for (std::size_t i = 0; i < module->entries.size(); ++i) {
        const Entry& entry = module->entries[i];
        if (!Matches(entry.type, type))
            continue;
        typeFound = true;
        if (Matches(entry.name, name))
            return EncodeResource(*index, i);
    }
    SetLastError(typeFound ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

extern "C" HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
    using namespace resources;
    ModuleTable& table = TheModuleTable();
    std::lock_guard lock(table.mutex);
    const Module* module = nullptr;
    const Entry* entry = DecodeResource(table, hResInfo, &module);
    if (entry == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // As on Windows, the loaded resource is its data, where LockResource finds it.
    return const_cast<unsigned char*>(module->data + entry->offset);
}

extern "C" LPVOID WINAPI LockResource(HGLOBAL hResData) {
    return hResData;
}

extern "C" DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    using namespace resources;
    ModuleTable& table = TheModuleTable();
    std::lock_guard lock(table.mutex);
    const Module* module = nullptr;
    const Entry* entry = DecodeResource(table, hResInfo, &module);
    if (entry == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(entry->size);
}
