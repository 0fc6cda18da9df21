// The settings file KOVEXFuel.INI read and written key by key through the profile-file rules.
#include "shell/settings.h"

#include "base/errors.h"
#include "base/textconversions.h"
#include "platform/files.h"
#include "shell/profile_file.h"
#include "shell/shellstate.h"

SettingsFile settingsFile;

namespace {

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

}  // namespace

const std::string& SettingsFilePath() { return settingsFile.path; }

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
