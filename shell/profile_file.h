// INI reader and writer with the desktop's profile-file rules, the same on every platform.
#pragma once

#include <cstddef>
#include <string>

// The buffer the program reads with: a value longer than 2047 characters is cut there.
constexpr std::size_t kProfileBufferSize = 2048;

// Value of key in section of the INI text content, or def when the section or key is absent.
// Names match without regard to case and blanks around them; the value is trimmed and loses one
// pair of surrounding quotes (" or '); the first section of a name and the first key in it win;
// lines whose first non-blank character is ';' are comments. The result, and def with its trailing
// blanks removed, are cut to bufferSize - 1 characters.
std::string ProfileGetString(const std::string& content, const std::string& section, const std::string& key,
                             const std::string& def, std::size_t bufferSize = kProfileBufferSize);

// content with key in section set to value: replaced in place (stored name case kept), or added
// at the end of the section, or added with a new section at the end. Every other byte is kept; new
// lines end in CRLF. Returns false (content untouched) for names or values that cannot be stored
// as one line: empty names, line breaks or NUL anywhere, '=' in the key, a key starting with ';' or '['.
bool ProfileSetString(std::string& content, const std::string& section, const std::string& key,
                      const std::string& value);

// ProfileGetString on the file at path; a missing or unreadable file yields def (trimmed and cut).
std::string ReadProfileString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& def, std::size_t bufferSize = kProfileBufferSize);

// ProfileSetString on the file at path, written at once and crash-safe; a missing file is created.
// False if the value cannot be stored, an existing file cannot be read, or the platform refuses the write.
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);
