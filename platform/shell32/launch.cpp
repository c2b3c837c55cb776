// Launching a program of the phone (ShellExecuteExW), and the observer of every launch.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "device/beneath.h"
#include "device/device_folder.h"
#include "device/paths.h"
#include "device/provision.h"
#include "platform/shell32/launch.h"
#include "base/text.h"

extern char** environ;

namespace {

std::mutex observerMutex;
platform::LaunchObserver observer;

BOOL Fail(SHELLEXECUTEINFOW& info, DWORD error) {
    INT_PTR code = SE_ERR_FNF;
    switch (error) {
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:
            code = SE_ERR_PNF;
            break;
        case ERROR_ACCESS_DENIED:
            code = SE_ERR_ACCESSDENIED;
            break;
        case ERROR_NOT_ENOUGH_MEMORY:
            code = SE_ERR_OOM;
            break;
        case ERROR_NO_ASSOCIATION:
        case ERROR_NOT_SUPPORTED:
            code = SE_ERR_NOASSOC;
            break;
    }
    info.hInstApp = reinterpret_cast<HINSTANCE>(code);
    SetLastError(error);
    return FALSE;
}

DWORD ErrorOfSpawn(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ELOOP:
            return ERROR_FILE_NOT_FOUND;
        case ENOMEM:
        case EAGAIN:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:  // EACCES, EPERM, ENOEXEC (not a program), ETXTBSY, ...
            return ERROR_ACCESS_DENIED;
    }
}

// The program's host file, checked the way Windows would refuse it. A link to it is followed
// only while it stays inside the phone: a program from elsewhere on the host is none of the
// phone's (EXDEV gives ERROR_ACCESS_DENIED).
DWORD CheckProgram(const std::filesystem::path& program) {
    const device::UniqueFd file = device::OpenBeneath(
        device::FileSystemRoot(), program.lexically_relative(device::FileSystemRoot()), O_RDONLY);
    struct stat info;
    if (file.Get() < 0 || fstat(file.Get(), &info) != 0)
        return ErrorOfSpawn(errno);
    if (!S_ISREG(info.st_mode) || access(program.c_str(), X_OK) != 0)
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// This process's environment with TAVONNE_DEVICE naming this device folder.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::string_view(*entry).starts_with("TAVONNE_DEVICE="))
            continue;
        variables.emplace_back(*entry);
    }
    variables.push_back("TAVONNE_DEVICE=" + device::Folder().string());
    return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

// Starts the program without waiting for it and without leaving a zombie: a short-lived child
// starts it and exits at once with the start's error number, so the program is never our child
// (init reaps it) and this process needs no SIGCHLD handling.
int Start(const std::filesystem::path& program, const std::filesystem::path& workingFolder,
          std::vector<std::string>& arguments) {
    std::vector<std::string> environment = ChildEnvironment();
    std::vector<char*> argv = Pointers(arguments);
    std::vector<char*> envp = Pointers(environment);
    const std::string log = device::LogFile().string();

    SpawnSetup setup;
    // Standard input from nowhere; output and errors go to the phone's log, never the screen.
    if (posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_addopen(&setup.actions, 1, log.c_str(),
                                         O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_NOFOLLOW,
                                         0644) != 0 ||
        posix_spawn_file_actions_adddup2(&setup.actions, 1, 2) != 0 ||
        posix_spawn_file_actions_addchdir_np(&setup.actions, workingFolder.c_str()) != 0) {
        return ENOMEM;
    }
    sigset_t noSignals, allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
    posix_spawnattr_setsigdefault(&setup.attributes, &allSignals);
    // Its own session: the program never reaches the terminal the phone screen is drawn on.
    posix_spawnattr_setflags(&setup.attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    const pid_t starter = fork();
    if (starter < 0)
        return errno;
    if (starter == 0) {
        pid_t programPid;
        const int error = posix_spawn(&programPid, program.c_str(), &setup.actions,
                                      &setup.attributes, argv.data(), envp.data());
        _exit(error);
    }
    int status = 0;
    while (waitpid(starter, &status, 0) < 0) {
        if (errno != EINTR)
            return 0;  // already reaped elsewhere (SIGCHLD ignored): its result is unknown
    }
    if (!WIFEXITED(status))
        return ECHILD;
    return WEXITSTATUS(status);
}

// A program that cannot start says nothing itself: the phone's log and its status line say why.
void TellNotStarted(std::u16string_view file, const std::filesystem::path& program, DWORD error) {
    const std::string why = error == ERROR_FILE_NOT_FOUND      ? "no such file"
                            : error == ERROR_ACCESS_DENIED     ? "not a program that can run"
                            : error == ERROR_NOT_ENOUGH_MEMORY ? "not enough memory"
                                                               : "error " + std::to_string(error);
    device::AppendToLog("shell: cannot start " + text::ToUtf8(file) + " (" + program.string() +
                        "): " + why + "\n");
    // The program's name stands between tabs, where the line may be shortened.
    std::string line(1, '\t');
    line += text::ToUtf8(file.substr(file.find_last_of(u"\\/") + 1));
    line += error == ERROR_FILE_NOT_FOUND  ? "\t : programme introuvable"
            : error == ERROR_ACCESS_DENIED ? "\t : programme non exécutable"
                                           : "\t : programme non démarré";
    device::WriteStatus(line);
}

}  // namespace

extern "C" BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) {
    // A structure of another size is not ours to write into.
    if (pExecInfo == nullptr || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SHELLEXECUTEINFOW& info = *pExecInfo;
    if (info.lpFile == nullptr)
        return Fail(info, ERROR_INVALID_PARAMETER);
    info.hProcess = nullptr;

    const std::u16string_view file(info.lpFile, text::Length(info.lpFile));
    const std::u16string_view parameters(info.lpParameters, text::Length(info.lpParameters));
    platform::LaunchObserver notify;
    {
        std::lock_guard lock(observerMutex);
        notify = observer;
    }
    if (notify)
        notify(file, parameters);

    // Class keys, item lists and environment substitution would change what runs: not offered.
    if ((info.fMask & (SEE_MASK_CLASSNAME | SEE_MASK_IDLIST | SEE_MASK_DOENVSUBST)) != 0)
        return Fail(info, ERROR_NOT_SUPPORTED);
    const std::u16string_view verb(info.lpVerb, text::Length(info.lpVerb));
    if (!verb.empty() && !text::EqualNoCase(verb, u"open"))
        return Fail(info, ERROR_NO_ASSOCIATION);
    if (file.empty())
        return Fail(info, ERROR_FILE_NOT_FOUND);

    device::ProvisionOnce();
    const std::filesystem::path program = device::HostPath(file);
    if (const DWORD error = CheckProgram(program); error != ERROR_SUCCESS) {
        TellNotStarted(file, program, error);
        return Fail(info, error);
    }

    std::filesystem::path workingFolder = device::FileSystemRoot();
    if (info.lpDirectory != nullptr && info.lpDirectory[0] != u'\0') {
        workingFolder = device::HostPath(info.lpDirectory);
        std::error_code error;
        if (!std::filesystem::is_directory(workingFolder, error))
            return Fail(info, ERROR_DIRECTORY);
    }

    // The parameter string is one argument, exactly as given.
    std::vector<std::string> arguments{program.string()};
    if (!parameters.empty())
        arguments.push_back(text::ToUtf8(parameters));
    if (const int error = Start(program, workingFolder, arguments); error != 0) {
        TellNotStarted(file, program, ErrorOfSpawn(error));
        return Fail(info, ErrorOfSpawn(error));
    }

    info.hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

namespace platform {

void SetLaunchObserver(LaunchObserver newObserver) {
    std::lock_guard lock(observerMutex);
    observer = std::move(newObserver);
}

}  // namespace platform
