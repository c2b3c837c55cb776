// Enumerating a big registry key by index, as `tavonne-device reg query` does: every value (with
// its data) and every sub-key. Google Benchmark fits the times to a line over the key sizes (the
// "BigO" and "RMS" rows): one lookup per item, whatever the key's size.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "device/device_folder.h"
#include "platform/testing/testing.h"

namespace {

constexpr int64_t kSizes[] = {1000, 4000, 16000};

std::u16string KeyName(int64_t items) {
    std::u16string name = u"Software\\Bench";
    for (char c : std::to_string(items))
        name.push_back(static_cast<char16_t>(c));
    return name;
}

// A key with `items` REG_SZ values and as many sub-keys.
bool MakeKey(int64_t items) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyName(items).c_str(), 0, nullptr, 0, 0, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool made = true;
    for (int64_t i = 0; made && i < items; ++i) {
        std::u16string name = u"Sonnerie ";
        for (char c : std::to_string(i))
            name.push_back(static_cast<char16_t>(c));
        const std::u16string data = u"\\Storage\\Sonneries\\" + name + u".mid";
        HKEY sub = nullptr;
        made = RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * 2)) == ERROR_SUCCESS &&
               RegCreateKeyExW(key, name.c_str(), 0, nullptr, 0, 0, nullptr, &sub, nullptr) ==
                   ERROR_SUCCESS;
        RegCloseKey(sub);
    }
    RegCloseKey(key);
    return made;
}

void BM_EnumValues(benchmark::State& state) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, KeyName(state.range(0)).c_str(), 0, 0, &key);
    int64_t count = 0;
    for (auto _ : state) {
        WCHAR name[256];
        BYTE data[512];
        count = 0;
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            DWORD size = sizeof data;
            DWORD type = 0;
            if (RegEnumValueW(key, i, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS)
                break;
            ++count;
        }
    }
    RegCloseKey(key);
    if (count != state.range(0))
        state.SkipWithError("values missing from the listing");
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_EnumSubKeys(benchmark::State& state) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, KeyName(state.range(0)).c_str(), 0, 0, &key);
    int64_t count = 0;
    for (auto _ : state) {
        WCHAR name[256];
        count = 0;
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            ++count;
        }
    }
    RegCloseKey(key);
    if (count != state.range(0))
        state.SkipWithError("sub-keys missing from the listing");
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * count);
}

}  // namespace

BENCHMARK(BM_EnumValues)
    ->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}})
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_EnumSubKeys)
    ->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}})
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

int main(int argc, char** argv) {
    // The keys are written one value at a time; in memory, so that each write's sync costs
    // nothing: what is measured is reading.
    char folder[] = "/dev/shm/tavonne-registry-XXXXXX";
    char fallback[] = "/tmp/tavonne-registry-XXXXXX";
    const char* top = mkdtemp(folder);
    if (top == nullptr)
        top = mkdtemp(fallback);
    if (top == nullptr)
        return 1;
    setenv("TAVONNE_DEVICE", (std::string(top) + "/device").c_str(), 1);
    device::ResetForTesting();
    for (int64_t size : kSizes) {
        if (!MakeKey(size))
            return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    device::CloseRegistryForTesting();
    std::error_code ignored;
    std::filesystem::remove_all(top, ignored);
    return 0;
}
