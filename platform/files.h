// File-system seam: the working directory, bounded whole-file reads and crash-safe whole-file
// replacement that concurrent writers of one file can share.
// Backends:
// - posix: only regular files are read (a FIFO never blocks); writers take turns with an
//   open-file-description lock (local disks, NFS and SMB alike) and replace the file by fsync +
//   rename of a temporary file of their own.
// - win32: only disk files are read; writers take turns through a mutex named after the file's
//   identity and rename their temporary file over it through their own handle.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace plat {

// The process's current working directory, or empty text if it cannot be determined.
std::string CurrentDirectory();

// Joins a directory and a file name with the platform's separator; an empty directory gives the name.
std::string JoinPath(const std::string& directory, const std::string& name);

// Missing only when nothing is there. NotRegular for a directory, a pipe, a device and the like,
// which is never read (so a pipe cannot block and a device cannot stream without end). TooLarge
// when the file holds more than the reader's limit. Failed when a file is there but cannot be read,
// so a writer never mistakes it for an empty file.
enum class ReadStatus { Read, Missing, NotRegular, TooLarge, Failed };

// Reads the whole file into content (emptied unless Read), at most maxBytes of it.
ReadStatus ReadWholeFile(const std::string& path, std::string& content, std::size_t maxBytes);

// Replaces the file's whole content so that a crash, a kill or a full disk at any moment leaves
// either the old content or the new one. Creates a missing file. Writes through symbolic links to
// their target and keeps the file's permission bits. Where the folder refuses new files but the file
// itself is writable, the file is rewritten in place instead. False if the platform refuses the write
// (read-only file, folder that cannot be written, missing folder, no space).
// Each call writes its own temporary file beside the target, named ReplacementTempPrefix(path)
// followed by a suffix of its own; temporary files left by killed writers are removed by later
// calls, and those of writers still at work are never touched. The write is atomic unless it falls
// back to rewriting in place.
bool ReplaceFileContent(const std::string& path, const std::string& content);

// Reads the file (a missing one as empty), lets edit change the content and, if edit returns true,
// replaces the file with it as ReplaceFileContent does. The whole read-change-write holds a lock
// that every UpdateFileContent on the same file waits for, so that concurrent updates from several
// processes follow each other and none loses another's change. Where no lock can be had (the file
// system refuses locks, or another writer keeps it past a patience of seconds) the update goes on
// without it, and unlocked, if given, is set to why; otherwise it is emptied. False if the file
// cannot be read (anything but Read or Missing), edit refuses, or the write is refused.
bool UpdateFileContent(const std::string& path, std::size_t maxBytes, const std::function<bool(std::string&)>& edit,
                       std::string* unlocked = nullptr);

// The start of the names of the temporary files that ReplaceFileContent writes beside path (after
// following links).
std::string ReplacementTempPrefix(const std::string& path);

}  // namespace plat
