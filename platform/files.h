// File-system seam: the working directory, whole-file reads and crash-safe whole-file replacement.
#pragma once

#include <string>

namespace plat {

// The process's current working directory, or empty text if it cannot be determined.
std::string CurrentDirectory();

// Joins a directory and a file name with the platform's separator; an empty directory gives the name.
std::string JoinPath(const std::string& directory, const std::string& name);

enum class ReadStatus { Read, Missing, Failed };

// Reads the whole file into content (emptied unless Read). Missing only when no file is there;
// Failed when one is there but cannot be read, so a writer never mistakes it for an empty file.
ReadStatus ReadWholeFile(const std::string& path, std::string& content);

// Replaces the file's whole content so that a crash, a kill or a full disk at any moment leaves
// either the old content or the new one. Creates a missing file. Writes through symbolic links to
// their target and keeps the file's permission bits. Where the folder refuses new files but the file
// itself is writable, the file is rewritten in place instead. False if the platform refuses the write
// (read-only file, folder that cannot be written, missing folder, no space).
bool ReplaceFileContent(const std::string& path, const std::string& content);

// The fixed name of the temporary file that ReplaceFileContent uses beside path (after following
// links). A writer killed mid-way can leave it behind; the next replacement removes or reuses it.
std::string ReplacementTempPath(const std::string& path);

}  // namespace plat
