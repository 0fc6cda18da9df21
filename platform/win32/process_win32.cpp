// Win32 processes: CreateProcessA with a stdin pipe, waits on the process handle, environment for both
// the desktop's block (children inherit it) and the C runtime's copy (getenv reads it).
#include "platform/process.h"

#include <cstdlib>

#include "platform/win32/win32_common.h"

namespace plat {
namespace {

// Exit status given to a child that is killed: what the POSIX side reports for SIGKILL.
constexpr UINT kKilledStatus = 128 + 9;

constexpr int kMaxChildren = 64;
struct ChildSlot {
    ChildProcess id;
    HANDLE process;
    HANDLE stdinWrite;
};
ChildSlot children[kMaxChildren];

ChildSlot* FindChild(ChildProcess child) {
    for (auto& slot : children)
        if (slot.id > 0 && slot.id == child) return &slot;
    return nullptr;
}

// One argument quoted so the child's C runtime reads it back unchanged.
void AppendQuoted(std::string& line, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') line.append(backslashes * 2 + 1, '\\');
        else line.append(backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

int ExitStatus(HANDLE process) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code) || code == STILL_ACTIVE) return -1;
    return static_cast<int>(code);
}

void Forget(ChildSlot* slot) {
    if (slot->stdinWrite) ::CloseHandle(slot->stdinWrite);
    if (slot->process) ::CloseHandle(slot->process);
    *slot = ChildSlot{};
}

}  // namespace

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::GetCurrentProcessId()); }

namespace {

// output, unless null, becomes the child's standard output and standard error.
ChildProcess StartChild(const std::vector<std::string>& argv, HANDLE output) {
    if (argv.empty() || argv[0].empty()) return 0;
    ChildSlot* slot = nullptr;
    for (auto& s : children)
        if (s.id <= 0) {
            slot = &s;
            break;
        }
    if (!slot) return 0;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 0;
    ::SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);  // only the child's end is inherited

    std::string line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i) line += ' ';
        AppendQuoted(line, argv[i]);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = output ? output : ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = output ? output : ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    // No application name: the desktop then finds the program as a command would, ".exe" added.
    const BOOL started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    ::CloseHandle(readEnd);
    if (!started) {
        ::CloseHandle(writeEnd);
        return 0;
    }
    ::CloseHandle(info.hThread);
    slot->id = static_cast<ChildProcess>(info.dwProcessId);
    slot->process = info.hProcess;
    slot->stdinWrite = writeEnd;
    return slot->id;
}

}  // namespace

ChildProcess StartChildProcess(const std::vector<std::string>& argv) { return StartChild(argv, nullptr); }

ChildProcess StartChildProcess(const std::vector<std::string>& argv, const std::string& outputPath) {
    // Inheritable, and shared so that the parent can read the output while the child writes it.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = ::CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return 0;
    const ChildProcess child = StartChild(argv, output);
    ::CloseHandle(output);
    return child;
}

bool ChildProcessRunning(ChildProcess child) {
    ChildSlot* slot = FindChild(child);
    return slot && ::WaitForSingleObject(slot->process, 0) == WAIT_TIMEOUT;
}

int StopChildProcess(ChildProcess child, std::uint32_t graceMs) {
    ChildSlot* slot = FindChild(child);
    if (!slot) return -1;
    if (slot->stdinWrite) ::CloseHandle(slot->stdinWrite);
    slot->stdinWrite = nullptr;
    if (::WaitForSingleObject(slot->process, graceMs) != WAIT_OBJECT_0) return KillChildProcess(child);
    const int status = ExitStatus(slot->process);
    Forget(slot);
    return status;
}

int KillChildProcess(ChildProcess child) {
    ChildSlot* slot = FindChild(child);
    if (!slot) return -1;
    ::TerminateProcess(slot->process, kKilledStatus);
    ::WaitForSingleObject(slot->process, INFINITE);
    const int status = ExitStatus(slot->process);
    Forget(slot);
    return status;
}

bool StandardInputClosed() {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return true;
    switch (::GetFileType(input)) {
        case FILE_TYPE_PIPE: {
            for (;;) {
                DWORD available = 0;
                if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
                    return ::GetLastError() == ERROR_BROKEN_PIPE || ::GetLastError() == ERROR_INVALID_HANDLE;
                }
                if (available == 0) return false;
                char buffer[256];
                DWORD got = 0;
                if (!::ReadFile(input, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr))
                    return ::GetLastError() == ERROR_BROKEN_PIPE;
            }
        }
        case FILE_TYPE_DISK: {
            char buffer[256];
            DWORD got = 0;
            return ::ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got == 0;
        }
        default:
            return false;  // a console has no end
    }
}

bool SetEnvironmentVariable(const char* name, const char* value) {
    if (!name || !*name || !value) return false;
    return ::SetEnvironmentVariableA(name, value) && _putenv_s(name, value) == 0;
}

}  // namespace plat
