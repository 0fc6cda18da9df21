// The settings file KOVEXFuel.INI read and written key by key through the profile-file rules.
#include "shell/settings.h"

#include "platform/files.h"
#include "shell/errors.h"
#include "shell/profile_file.h"
#include "shell/shellstate.h"

SettingsFile settingsFile;

namespace {

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

[[noreturn]] void ThrowNotInteger(const std::string& text) {
    throw KovexError(FormatText("'%s' is not a valid integer value", text.c_str()));
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

}  // namespace

const std::string& SettingsFilePath() { return settingsFile.path; }

std::string TrimBlanks(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return text.substr(begin, end - begin);
}

std::int32_t TextToInt32(const std::string& text) {
    std::size_t pos = 0;
    std::uint64_t magnitude = 0;
    if (!text.empty() && text[0] == '$') {
        pos = 1;
        if (pos == text.size()) ThrowNotInteger(text);
        for (; pos < text.size(); ++pos) {
            const int digit = DigitValue(text[pos]);
            if (digit > 15) ThrowNotInteger(text);
            magnitude = magnitude * 16 + static_cast<std::uint64_t>(digit);
            if (magnitude > 0xFFFFFFFFu) ThrowNotInteger(text);
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    }
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) pos = 1;
    if (pos == text.size()) ThrowNotInteger(text);
    const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos]);
        if (digit > 9) ThrowNotInteger(text);
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit);
        if (magnitude > limit) ThrowNotInteger(text);
    }
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
}

std::string ReadSettingText(const char* section, const char* key, const char* def) {
    ProfileFileState state = ProfileFileState::Usable;
    std::string value = ReadProfileString(settingsFile.path, Text(section), Text(key), Text(def), state);
    if (state == ProfileFileState::NotRegularFile)
        throw KovexError(FormatText("Unable to read %s: it is not a regular file", settingsFile.path.c_str()));
    if (state == ProfileFileState::TooLarge)
        throw KovexError(FormatText("Unable to read %s: it is larger than %d MiB", settingsFile.path.c_str(),
                                    static_cast<int>(kMaxProfileFileBytes / (1024 * 1024))));
    return value;
}

std::int32_t ReadSettingInt(const char* section, const char* key, const char* def) {
    return TextToInt32(TrimBlanks(ReadSettingText(section, key, def)));
}

void WriteSettingInt(const char* section, const char* key, std::int32_t value) {
    if (!WriteProfileString(settingsFile.path, Text(section), Text(key), std::to_string(value))) {
        throw KovexError(FormatText("Unable to write to %s", settingsFile.path.c_str()));
    }
}

void ReadWindowGeometry() {
    windowX = ReadSettingInt("WINDOW", "X", "0");
    windowY = ReadSettingInt("WINDOW", "Y", "0");
    windowWidth = ReadSettingInt("WINSIZE", "WIDTH", "400");
    windowHeight = ReadSettingInt("WINSIZE", "HEIGHT", "400");
}

void LoadSettings() {
    serverAddress.clear();
    serverPort.clear();
    windowX = 0;
    windowY = 0;
    useLan = false;

    settingsFile.path = plat::JoinPath(plat::CurrentDirectory(), kSettingsFileName);

    useLan = TrimBlanks(ReadSettingText("LAN", "USELAN", "")) == "Y";
    const std::string server = TrimBlanks(ReadSettingText("LAN", "KOVEXSERVER", ""));
    if (server.empty()) {
        useLan = false;
    } else {
        serverAddress = server;
    }
    const std::string port = TrimBlanks(ReadSettingText("LAN", "KOVEXPORT", ""));
    if (port.empty()) {
        useLan = false;
    } else {
        serverPort = port;
    }
    windowX = ReadSettingInt("WINDOW", "X", "0");
    windowY = ReadSettingInt("WINDOW", "Y", "0");
    ReadWindowGeometry();
    borderless = TrimBlanks(ReadSettingText("WINBORDER", "ACTIVE", "Y")) != "Y";
}
