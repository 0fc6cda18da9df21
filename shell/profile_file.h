// INI reader and writer with the desktop's profile-file rules, the same on every platform.
#pragma once

#include <cstddef>
#include <string>

// The buffer the program reads with: a value longer than 2047 characters is cut there.
constexpr std::size_t kProfileBufferSize = 2048;

// Larger files are not read: a settings file never comes near this, and a device or a runaway file
// must not take the memory.
constexpr std::size_t kMaxProfileFileBytes = 16 * 1024 * 1024;

// How the file's bytes hold its text. A file that starts with a UTF-16 byte-order mark (FF FE or
// FE FF) is read as UTF-16 and written back in UTF-16 with the same mark, as the desktop does with
// such files; every other file is taken byte for byte.
enum class ProfileEncoding { Bytes, Utf16LittleEndian, Utf16BigEndian };

// A file's content as the profile rules see it: text is UTF-8 for a UTF-16 file (a lone surrogate
// kept as its three-byte form, so nothing is lost), and an odd last byte of a UTF-16 file is kept
// aside in tail.
struct ProfileText {
    ProfileEncoding encoding = ProfileEncoding::Bytes;
    std::string text;
    std::string tail;
};

ProfileText DecodeProfileFile(const std::string& bytes);

// The file's bytes for decoded text; EncodeProfileFile(DecodeProfileFile(b)) gives b back. False
// when text holds bytes that are not UTF-8 and so cannot be stored in a UTF-16 file.
bool EncodeProfileFile(const ProfileText& decoded, std::string& bytes);

// Whether the file could be used by a read. Usable also when no file is there (the defaults apply).
enum class ProfileFileState { Usable, Unreadable, NotRegularFile, TooLarge };

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

// ProfileGetString on the file at path; a missing or unusable file yields def (trimmed and cut).
std::string ReadProfileString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& def, std::size_t bufferSize = kProfileBufferSize);

// The same, telling in state whether the file could be used.
std::string ReadProfileString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& def, ProfileFileState& state,
                              std::size_t bufferSize = kProfileBufferSize);

// ProfileSetString on the file at path, written at once and crash-safe; a missing file is created.
// Writers in other processes that change other keys of the same file at the same time keep their
// changes: each read-change-write waits for the one before it. Where no lock can be had, the write
// goes on without it and says so once on standard error.
// False if the value cannot be stored, an existing file cannot be read, or the platform refuses the write.
bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value);
