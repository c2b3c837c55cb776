// The phone's files on Windows: tones read whole, and host files copied in beside their final
// name, then moved into its place in one step.
#include "device/phone_files.h"

#include <windows.h>

#include <fstream>
#include <system_error>

#include "base/host_path.h"
#include "device/paths.h"

namespace device {

namespace fs = std::filesystem;

ToneFile ReadToneFile(std::u16string_view devicePath) {
    const fs::path file = HostPath(devicePath);
    ToneFile loaded;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    loaded.exists = fs::exists(status);
    if (!loaded.exists) {
        loaded.problem = "no such file (" + text::PathToUtf8(file) + ")";
    } else if (fs::is_directory(status)) {
        loaded.problem = "cannot read (a folder)";
    } else if (const auto size = fs::file_size(file, error); error) {
        loaded.problem = "cannot read (" + error.message() + ")";
    } else if (size > kLargestToneBytes) {
        loaded.problem = "cannot read (larger than any tone)";
    } else {
        loaded.bytes.resize(size);
        std::ifstream in(file, std::ios::binary);
        in.read(reinterpret_cast<char*>(loaded.bytes.data()),
                static_cast<std::streamsize>(loaded.bytes.size()));
        if (!in)
            loaded.problem = "cannot read (" + text::PathToUtf8(file) + ")";
    }
    return loaded;
}

std::string CopyToPhone(const fs::path& source, std::u16string_view deviceFolder,
                        std::u16string_view name, const std::function<bool()>& stopped) {
    std::error_code error;
    fs::create_directories(HostPath(deviceFolder), error);
    if (error)
        return error.message();
    const fs::path target = HostPath(std::u16string(deviceFolder) + u"\\" + std::u16string(name));
    fs::path aside = target;
    aside += L".new-" + std::to_wstring(GetCurrentProcessId());
    fs::copy_file(source, aside, fs::copy_options::overwrite_existing, error);
    if (!error && stopped())
        error = std::make_error_code(std::errc::interrupted);
    if (!error && !MoveFileExW(aside.c_str(), target.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
    if (!error)
        return "";
    std::error_code ignored;
    fs::remove(aside, ignored);
    return error.message();
}

}  // namespace device
