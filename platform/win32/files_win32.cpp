// Win32 file-system seam: the current directory, bounded reads of disk files, and replacement by a
// flushed temporary file of the writer's own swapped in with ReplaceFileA (MoveFileExA for a new
// file), rewriting in place only where the folder refuses new files. Writers of one file take turns
// through a named mutex.
#include "platform/files.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/win32/win32_common.h"

namespace plat {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A writer holds the turn for one read and one small write; one that holds it much longer is hung,
// and waiting on would hang this program too.
constexpr DWORD kTurnPatienceMs = 10000;
// Temporary names taken by others are skipped.
constexpr int kTempNameAttempts = 100;

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

std::string DirectoryOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// One writer at a time per file, across processes: a mutex named after the file's full path (names
// are matched without regard to case, as the file system does). A mutex left by a killed holder is
// taken over; after kTurnPatienceMs the write goes on without the turn.
class WriterTurn {
public:
    explicit WriterTurn(const std::string& path) {
        std::vector<char> full(MAX_PATH + 1);
        DWORD n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n >= full.size()) {
            full.resize(n + 1);
            n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        }
        if (n == 0 || n >= full.size()) return;
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (DWORD i = 0; i < n; ++i) {
            char c = full[i];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (c == '/') c = '\\';
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
        char name[64];
        std::snprintf(name, sizeof name, "Local\\KOVEXFuel-file-%016llx", static_cast<unsigned long long>(hash));
        mutex_ = ::CreateMutexA(nullptr, FALSE, name);
        if (mutex_ == nullptr) return;
        const DWORD waited = ::WaitForSingleObject(mutex_, kTurnPatienceMs);
        owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~WriterTurn() {
        if (owned_) ::ReleaseMutex(mutex_);
        if (mutex_ != nullptr) ::CloseHandle(mutex_);
    }
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;

    bool owned() const { return owned_; }

private:
    HANDLE mutex_ = nullptr;
    bool owned_ = false;
};

// Temporary files of writers that are gone. Called only with the turn held, so no other writer is
// between closing its temporary file and swapping it in; a file still open refuses to be deleted.
void RemoveLeftovers(const std::string& path) {
    const std::string prefix = ReplacementTempPrefix(path);
    const std::string directory = DirectoryOf(path);
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(directory + found.cFileName);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    for (const std::string& name : names) ::DeleteFileA(name.c_str());
}

// Creates this writer's temporary file, open for it alone.
HANDLE CreateTemp(const std::string& path, std::string& temp, DWORD& createError) {
    static unsigned long counter = 0;
    const std::string prefix = ReplacementTempPrefix(path);
    createError = 0;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        temp = prefix + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(++counter);
        HANDLE file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        createError = ::GetLastError();
        if (createError != ERROR_FILE_EXISTS && createError != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

bool ReplaceInTurn(const std::string& path, const std::string& content, bool turnHeld) {
    // A read-only file stays refused even where the folder would allow a swap over it.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && !IsMissingError(::GetLastError())) return false;
    if (exists) {
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
        HANDLE probe = ::CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) return false;
        const bool disk = ::GetFileType(probe) == FILE_TYPE_DISK;
        ::CloseHandle(probe);
        if (!disk) return false;
    }

    if (turnHeld) RemoveLeftovers(path);
    std::string temp;
    DWORD createError = 0;
    HANDLE file = CreateTemp(path, temp, createError);
    if (file == INVALID_HANDLE_VALUE) {
        if (exists && createError == ERROR_ACCESS_DENIED) return RewriteInPlace(path, content);
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

ReadStatus ReadWholeFile(const std::string& path, std::string& content, std::size_t maxBytes) {
    content.clear();
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (IsMissingError(::GetLastError())) return ReadStatus::Missing;
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        return folder ? ReadStatus::NotRegular : ReadStatus::Failed;
    }
    // Pipes and devices (CON, a named pipe) are never read: they could block or stream without end.
    ReadStatus status = ReadStatus::Read;
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        status = ReadStatus::NotRegular;
    } else if (!::GetFileSizeEx(file, &size)) {
        status = ReadStatus::Failed;
    } else if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        status = ReadStatus::TooLarge;
    } else {
        content.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    char buffer[65536];
    while (status == ReadStatus::Read) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            status = ReadStatus::Failed;
            break;
        }
        if (got == 0) break;
        if (got > maxBytes - content.size()) {
            status = ReadStatus::TooLarge;  // grew while being read
            break;
        }
        content.append(buffer, got);
    }
    ::CloseHandle(file);
    if (status != ReadStatus::Read) std::string().swap(content);
    return status;
}

// Links are not followed here: ReplaceFileA keeps the replaced file's attributes and security itself.
std::string ReplacementTempPrefix(const std::string& path) { return path + ".tmp."; }

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    if (path.empty()) return false;
    const WriterTurn turn(path);
    return ReplaceInTurn(path, content, turn.owned());
}

bool UpdateFileContent(const std::string& path, std::size_t maxBytes, const std::function<bool(std::string&)>& edit) {
    if (path.empty()) return false;
    const WriterTurn turn(path);
    std::string content;
    const ReadStatus read = ReadWholeFile(path, content, maxBytes);
    // A file that is there but unusable is refused rather than replaced by just this change.
    return (read == ReadStatus::Read || read == ReadStatus::Missing) && edit(content) &&
           ReplaceInTurn(path, content, turn.owned());
}

}  // namespace plat
