// Win32 file-system seam: the current directory, bounded reads of disk files, and replacement by a
// flushed temporary file of the writer's own renamed over the file through the writer's handle,
// rewriting in place only where the folder refuses new files. Writers of one file take turns through
// a mutex named after the file's identity.
#include "platform/files.h"

#include <algorithm>
#include <atomic>
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
constexpr DWORD kRenamePatienceMs = 2000;
constexpr DWORD kRenameRetryMs = 5;
// Attributes the replacement takes over from the file it replaces.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
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

std::string NameOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string FullPath(const std::string& path) {
    std::vector<char> full(MAX_PATH + 1);
    DWORD n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n + 1);
        n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    return n == 0 || n >= full.size() ? std::string() : std::string(full.data(), n);
}

// The volume serial number and file index of what path names (a folder too), as text.
bool IdentityOf(const std::string& path, std::string& identity) {
    HANDLE handle = ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(handle, &info) != FALSE;
    ::CloseHandle(handle);
    if (!known) return false;
    char text[40];
    std::snprintf(text, sizeof text, "%08lx-%08lx%08lx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
                  static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
    identity = text;
    return true;
}

// What names the writers' turn: the file's identity, so that every way of reaching the file (a
// mapped drive, its UNC path, a short name) meets the same turn; while there is no file, its
// folder's identity and its name (matched without regard to case, as the file system does).
bool TurnKey(const std::string& path, std::string& key) {
    std::string identity;
    if (IdentityOf(path, identity)) {
        key = "KOVEXFuel-file-" + identity;
        return true;
    }
    if (!IsMissingError(::GetLastError())) return false;
    const std::string full = FullPath(path);
    const std::string folder = DirectoryOf(full);
    if (full.empty() || folder.empty() || !IdentityOf(folder, identity)) return false;
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : NameOf(full)) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char name[24];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    key = "KOVEXFuel-new-" + identity + "-" + name;
    return true;
}

// One writer at a time per file, across processes and sessions: a mutex in the global namespace
// (the session's own where a global one is refused) named by TurnKey. Each write gives the file a
// new identity, so a writer that waited checks that the key still names the file, and otherwise
// takes the turn of the file there now. A mutex left by a killed holder is taken over; after
// kTurnPatienceMs the write goes on without the turn.
class WriterTurn {
public:
    explicit WriterTurn(const std::string& path) {
        const ULONGLONG deadline = ::GetTickCount64() + kTurnPatienceMs;
        std::string key;
        // Without a file or a folder to key by, the write meets the refusal itself.
        if (!TurnKey(path, key)) return;
        for (;;) {
            mutex_ = ::CreateMutexA(nullptr, FALSE, ("Global\\" + key).c_str());
            if (mutex_ == nullptr) mutex_ = ::CreateMutexA(nullptr, FALSE, ("Local\\" + key).c_str());
            if (mutex_ == nullptr) {
                unlocked_ = "no mutex for the writers could be made: error " + std::to_string(::GetLastError());
                return;
            }
            const ULONGLONG now = ::GetTickCount64();
            const DWORD waited = ::WaitForSingleObject(mutex_, now < deadline ? static_cast<DWORD>(deadline - now) : 0);
            if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
                unlocked_ = "another writer has held the turn for over " + std::to_string(kTurnPatienceMs / 1000) + " s";
                return;
            }
            std::string current;
            if (!TurnKey(path, current) || current == key) {
                owned_ = true;
                return;
            }
            ::ReleaseMutex(mutex_);
            ::CloseHandle(mutex_);
            mutex_ = nullptr;
            key = current;
        }
    }
    ~WriterTurn() {
        if (owned_) ::ReleaseMutex(mutex_);
        if (mutex_ != nullptr) ::CloseHandle(mutex_);
    }
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;

    // Why the write goes on without the turn; empty when it has it (or there is nothing to key by).
    const std::string& unlocked() const { return unlocked_; }

private:
    HANDLE mutex_ = nullptr;
    bool owned_ = false;
    std::string unlocked_;
};

// Temporary files of writers that are gone. A writer holds its temporary file open without
// delete-sharing until it has renamed it, so deleting a live writer's file fails; a killed writer's
// handle is closed by the system.
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

// Creates this writer's temporary file, held open until it is renamed: nobody else may delete it
// (another writer may still open the renamed file for writing before this handle closes).
HANDLE CreateTemp(const std::string& path, DWORD attributes, std::string& temp, DWORD& createError) {
    static std::atomic<unsigned long> counter{0};
    const std::string prefix = ReplacementTempPrefix(path) + std::to_string(::GetCurrentProcessId()) + ".";
    createError = 0;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        temp = prefix + std::to_string(++counter);
        HANDLE file = ::CreateFileA(temp.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                    attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        createError = ::GetLastError();
        if (createError != ERROR_FILE_EXISTS && createError != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

// The rename takes a path in the system's own form: \??\C:\... or \??\UNC\server\share\...
std::wstring SystemPath(const std::string& path) {
    std::string full = FullPath(path);
    std::vector<char> longer(full.size() + MAX_PATH + 1);
    const DWORD n = ::GetLongPathNameA(full.c_str(), longer.data(), static_cast<DWORD>(longer.size()));
    if (n > 0 && n < longer.size()) full.assign(longer.data(), n);  // the file's own name, not a short alias
    if (full.compare(0, 4, "\\\\?\\") == 0 || full.compare(0, 4, "\\\\.\\") == 0) {
        full = "\\??\\" + full.substr(4);
    } else if (full.compare(0, 2, "\\\\") == 0) {
        full = "\\??\\UNC\\" + full.substr(2);
    } else {
        full = "\\??\\" + full;
    }
    const int wide = ::MultiByteToWideChar(CP_ACP, 0, full.data(), static_cast<int>(full.size()), nullptr, 0);
    std::wstring text(wide > 0 ? static_cast<std::size_t>(wide) : 0u, L'\0');
    if (wide > 0) ::MultiByteToWideChar(CP_ACP, 0, full.data(), static_cast<int>(full.size()), text.data(), wide);
    return text;
}

// Renames the open temporary file over path through its own handle, so that it is never without
// its writer's protection from deletion. A file held open without delete-sharing refuses to be
// replaced: by a scanner or an indexer for a moment, or by a writer between its own rename and
// closing its handle; that is waited out for a while.
bool RenameOver(HANDLE file, const std::string& path) {
    const std::wstring target = SystemPath(path);
    if (target.empty()) return false;
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), info->FileName);
    for (DWORD waited = 0;; waited += kRenameRetryMs) {
        if (::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) return true;
        const DWORD error = ::GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || waited >= kRenamePatienceMs) return false;
        ::Sleep(kRenameRetryMs);
    }
}

bool ReplaceInTurn(const std::string& path, const std::string& content) {
    // A read-only file stays refused even where the folder would allow a rename over it.
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

    RemoveLeftovers(path);
    std::string temp;
    DWORD createError = 0;
    HANDLE file = CreateTemp(path, exists ? attributes & kKeptAttributes : 0, temp, createError);
    if (file == INVALID_HANDLE_VALUE) {
        if (exists && createError == ERROR_ACCESS_DENIED) return RewriteInPlace(path, content);
        return false;
    }
    const bool ok = WriteAll(file, content) && ::FlushFileBuffers(file) && RenameOver(file, path);
    ::CloseHandle(file);
    if (!ok) ::DeleteFileA(temp.c_str());
    return ok;
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

// Links are not followed here: the replacement takes the file's attributes, and the folder's
// inherited permissions as any new file there does.
std::string ReplacementTempPrefix(const std::string& path) { return path + ".tmp."; }

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    if (path.empty()) return false;
    const WriterTurn turn(path);
    return ReplaceInTurn(path, content);
}

bool UpdateFileContent(const std::string& path, std::size_t maxBytes, const std::function<bool(std::string&)>& edit,
                       std::string* unlocked) {
    if (unlocked != nullptr) unlocked->clear();
    if (path.empty()) return false;
    const WriterTurn turn(path);
    if (unlocked != nullptr) *unlocked = turn.unlocked();
    std::string content;
    const ReadStatus read = ReadWholeFile(path, content, maxBytes);
    // A file that is there but unusable is refused rather than replaced by just this change.
    return (read == ReadStatus::Read || read == ReadStatus::Missing) && edit(content) && ReplaceInTurn(path, content);
}

}  // namespace plat
