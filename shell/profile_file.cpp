// INI reader and writer with the desktop's profile-file rules, working on byte offsets so that
// writing keeps every line it does not change byte for byte.
#include "shell/profile_file.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/files.h"

namespace {

enum class LineKind { Blank, Comment, Section, Key, Other };

struct ProfileLine {
    std::size_t begin = 0;  // first byte of the line
    std::size_t end = 0;    // first byte of its line end (or of the file's end)
    std::size_t next = 0;   // first byte after its line end
    LineKind kind = LineKind::Other;
    std::string name;              // trimmed section or key name
    std::size_t valueBegin = 0;    // trimmed value of a key line; an empty value sits right after '='
    std::size_t valueEnd = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

// Narrows [begin, end) to its non-blank middle.
void TrimSpan(const std::string& text, std::size_t& begin, std::size_t& end) {
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
}

std::string TrimName(const std::string& name) {
    std::size_t begin = 0;
    std::size_t end = name.size();
    TrimSpan(name, begin, end);
    return name.substr(begin, end - begin);
}

void Classify(const std::string& text, ProfileLine& line) {
    std::size_t begin = line.begin;
    std::size_t end = line.end;
    TrimSpan(text, begin, end);
    if (begin == end) {
        line.kind = LineKind::Blank;
        return;
    }
    if (text[begin] == ';') {
        line.kind = LineKind::Comment;
        return;
    }
    if (text[begin] == '[') {
        std::size_t close = end - 1;
        while (close > begin && text[close] != ']') --close;
        if (close > begin) {
            std::size_t nameBegin = begin + 1;
            std::size_t nameEnd = close;
            TrimSpan(text, nameBegin, nameEnd);
            line.kind = LineKind::Section;
            line.name = text.substr(nameBegin, nameEnd - nameBegin);
            return;
        }
    }
    std::size_t equals = begin;
    while (equals < end && text[equals] != '=') ++equals;
    if (equals == end) {
        line.kind = LineKind::Other;  // not a key: never matches a query
        return;
    }
    std::size_t nameEnd = equals;
    TrimSpan(text, begin, nameEnd);
    line.kind = LineKind::Key;
    line.name = text.substr(begin, nameEnd - begin);
    line.valueBegin = equals + 1;
    line.valueEnd = end;
    TrimSpan(text, line.valueBegin, line.valueEnd);
}

std::vector<ProfileLine> SplitLines(const std::string& text) {
    std::vector<ProfileLine> lines;
    std::size_t pos = 0;
    // A UTF-8 byte order mark left by an editor is not part of the first line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos < text.size()) {
        ProfileLine line;
        line.begin = pos;
        const std::size_t brk = text.find_first_of("\r\n", pos);
        line.end = brk == std::string::npos ? text.size() : brk;
        line.next = line.end;
        if (line.next < text.size()) {
            line.next += (text[line.next] == '\r' && line.next + 1 < text.size() && text[line.next + 1] == '\n') ? 2 : 1;
        }
        Classify(text, line);
        lines.push_back(std::move(line));
        pos = lines.back().next;
    }
    return lines;
}

// Index of the first section header of that name, or lines.size().
std::size_t FindSection(const std::vector<ProfileLine>& lines, const std::string& section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Section && SameName(lines[i].name, section)) return i;
    }
    return lines.size();
}

// Index of the first key of that name inside the section starting at header, or lines.size().
std::size_t FindKey(const std::vector<ProfileLine>& lines, std::size_t header, const std::string& key) {
    for (std::size_t i = header + 1; i < lines.size() && lines[i].kind != LineKind::Section; ++i) {
        if (lines[i].kind == LineKind::Key && SameName(lines[i].name, key)) return i;
    }
    return lines.size();
}

std::string CutToBuffer(std::string text, std::size_t bufferSize) {
    const std::size_t nul = text.find('\0');  // the desktop hands out C strings
    if (nul != std::string::npos) text.resize(nul);
    const std::size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
    if (text.size() > limit) text.resize(limit);
    return text;
}

std::string TrimmedDefault(const std::string& def, std::size_t bufferSize) {
    std::size_t end = def.size();
    while (end > 0 && def[end - 1] == ' ') --end;
    return CutToBuffer(def.substr(0, end), bufferSize);
}

bool StorableOnOneLine(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

}  // namespace

std::string ProfileGetString(const std::string& content, const std::string& section, const std::string& key,
                             const std::string& def, std::size_t bufferSize) {
    const std::string sectionName = TrimName(section);
    const std::string keyName = TrimName(key);
    if (sectionName.empty() || keyName.empty()) return TrimmedDefault(def, bufferSize);
    const std::vector<ProfileLine> lines = SplitLines(content);
    const std::size_t header = FindSection(lines, sectionName);
    if (header == lines.size()) return TrimmedDefault(def, bufferSize);
    const std::size_t at = FindKey(lines, header, keyName);
    if (at == lines.size()) return TrimmedDefault(def, bufferSize);

    std::size_t begin = lines[at].valueBegin;
    std::size_t end = lines[at].valueEnd;
    const char first = begin < end ? content[begin] : '\0';
    if (end - begin >= 2 && (first == '"' || first == '\'') && content[end - 1] == first) {
        ++begin;
        --end;
    }
    return CutToBuffer(content.substr(begin, end - begin), bufferSize);
}

bool ProfileSetString(std::string& content, const std::string& section, const std::string& key,
                      const std::string& value) {
    const std::string sectionName = TrimName(section);
    const std::string keyName = TrimName(key);
    if (sectionName.empty() || keyName.empty() || !StorableOnOneLine(sectionName) || !StorableOnOneLine(keyName) ||
        !StorableOnOneLine(value) || keyName.find('=') != std::string::npos || keyName[0] == ';' || keyName[0] == '[') {
        return false;
    }
    const std::string keyLine = keyName + "=" + value + "\r\n";
    const std::vector<ProfileLine> lines = SplitLines(content);
    const std::size_t header = FindSection(lines, sectionName);
    if (header == lines.size()) {
        if (!lines.empty() && lines.back().next == lines.back().end) content += "\r\n";
        content += "[" + sectionName + "]\r\n" + keyLine;
        return true;
    }
    const std::size_t at = FindKey(lines, header, keyName);
    if (at != lines.size()) {
        content.replace(lines[at].valueBegin, lines[at].valueEnd - lines[at].valueBegin, value);
        return true;
    }
    // After the section's last non-blank line, so blank lines before the next header stay separators.
    std::size_t last = header;
    for (std::size_t i = header + 1; i < lines.size() && lines[i].kind != LineKind::Section; ++i) {
        if (lines[i].kind != LineKind::Blank) last = i;
    }
    if (lines[last].next == lines[last].end) {
        content.insert(lines[last].end, "\r\n" + keyLine);
    } else {
        content.insert(lines[last].next, keyLine);
    }
    return true;
}

std::string ReadProfileString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& def, std::size_t bufferSize) {
    ProfileFileState ignored = ProfileFileState::Usable;
    return ReadProfileString(path, section, key, def, ignored, bufferSize);
}

std::string ReadProfileString(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& def, ProfileFileState& state, std::size_t bufferSize) {
    std::string content;
    switch (plat::ReadWholeFile(path, content, kMaxProfileFileBytes)) {
    case plat::ReadStatus::Read:
        state = ProfileFileState::Usable;
        return ProfileGetString(DecodeProfileFile(content).text, section, key, def, bufferSize);
    case plat::ReadStatus::Missing:
        state = ProfileFileState::Usable;
        break;
    case plat::ReadStatus::NotRegular:
        state = ProfileFileState::NotRegularFile;
        break;
    case plat::ReadStatus::TooLarge:
        state = ProfileFileState::TooLarge;
        break;
    case plat::ReadStatus::Failed:
        state = ProfileFileState::Unreadable;
        break;
    }
    return TrimmedDefault(def, bufferSize);
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
    std::string unlocked;
    const bool written = plat::UpdateFileContent(
        path, kMaxProfileFileBytes,
        [&](std::string& content) {
            ProfileText decoded = DecodeProfileFile(content);
            return ProfileSetString(decoded.text, section, key, value) && EncodeProfileFile(decoded, content);
        },
        &unlocked);
    // Said once: a folder that refuses locks refuses them at every write.
    static bool toldUnlocked = false;
    if (!unlocked.empty() && !toldUnlocked) {
        toldUnlocked = true;
        std::fprintf(stderr, "KOVEXFuel: %s is written without a lock (%s): panels writing it at the same moment may lose a change\n",
                     path.c_str(), unlocked.c_str());
        std::fflush(stderr);
    }
    return written;
}
