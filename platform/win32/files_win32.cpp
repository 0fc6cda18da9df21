// Win32 file-system seam: the current directory, whole-file reads, and replacement by a flushed
// temporary file swapped in with ReplaceFileA (MoveFileExA for a new file), rewriting in place only
// where the folder refuses new files.
#include "platform/files.h"

#include <vector>

#include "platform/win32/win32_common.h"

namespace plat {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool WriteAll(HANDLE file, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const std::size_t left = content.size() - done;
        const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!::WriteFile(file, content.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool SetLength(HANDLE file, std::size_t length) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(length);
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

// Used only where the folder refuses new files. The file first grows to the new length, so a full
// disk leaves the old content; a crash in the middle can still mix old and new.
bool RewriteInPlace(const std::string& target, const std::string& content) {
    HANDLE file = ::CreateFileA(target.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = ::GetFileSizeEx(file, &size) != FALSE;
    if (ok && static_cast<LONGLONG>(content.size()) > size.QuadPart) ok = SetLength(file, content.size());
    LARGE_INTEGER start{};
    ok = ok && ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteAll(file, content) &&
         SetLength(file, content.size()) && ::FlushFileBuffers(file);
    return ::CloseHandle(file) && ok;
}

}  // namespace

std::string CurrentDirectory() {
    std::vector<char> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD n = ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (n == 0) return std::string();
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(n + 1);
    }
}

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    const char last = directory.back();
    if (last == '\\' || last == '/' || last == ':') return directory + name;
    return directory + "\\" + name;
}

ReadStatus ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return IsMissingError(::GetLastError()) ? ReadStatus::Missing : ReadStatus::Failed;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        content.append(buffer, got);
    }
    ::CloseHandle(file);
    if (!ok) content.clear();
    return ok ? ReadStatus::Read : ReadStatus::Failed;
}

// Links are not followed here: ReplaceFileA keeps the replaced file's attributes and security itself.
std::string ReplacementTempPath(const std::string& path) { return path + ".tmp"; }

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    if (path.empty()) return false;
    const std::string temp = ReplacementTempPath(path);

    // A read-only file stays refused even where the folder would allow a swap over it.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && !IsMissingError(::GetLastError())) return false;
    if (exists) {
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
        HANDLE probe = ::CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) return false;
        ::CloseHandle(probe);
    }

    // A leftover of a killed writer goes first, so the exclusive create never writes through it.
    const DWORD deleteError = ::DeleteFileA(temp.c_str()) ? 0 : ::GetLastError();
    HANDLE file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        const bool refused = error == ERROR_ACCESS_DENIED;
        const bool leftoverStuck = (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && deleteError == ERROR_ACCESS_DENIED;
        if (exists && (refused || leftoverStuck)) return RewriteInPlace(path, content);
        return false;
    }
    bool ok = WriteAll(file, content) && ::FlushFileBuffers(file);
    ok = ::CloseHandle(file) && ok;
    if (ok && exists) {
        ok = ::ReplaceFileA(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) ||
             ::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    } else if (ok) {
        ok = ::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) {
        ::DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace plat
