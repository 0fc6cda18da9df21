// The settings file KOVEXFuel.INI: loading the shell's settings and reading and writing single keys.
#pragma once

#include <cstdint>
#include <string>

// The open settings file: named by its full path, fixed once by LoadSettings. Nothing of the file's
// content is held here; every read goes to the file and every write is in the file at once.
struct SettingsFile {
    std::string path;
};
extern SettingsFile settingsFile;

constexpr const char* kSettingsFileName = "KOVEXFuel.INI";

// Fixes settingsFile to the current directory's KOVEXFuel.INI and fills useLan, serverAddress,
// serverPort, the window geometry and borderless from it. Throws KovexError for a bad number.
void LoadSettings();

// Reloads windowX, windowY, windowWidth and windowHeight from the file. Throws KovexError.
void ReadWindowGeometry();

// One key as text by the profile-file rules; def when absent (also before LoadSettings).
std::string ReadSettingText(const char* section, const char* key, const char* def);

// One key read, trimmed and converted by TextToInt32. Throws KovexError.
std::int32_t ReadSettingInt(const char* section, const char* key, const char* def);

// Writes value as decimal text; throws KovexError "Unable to write to <path>" if refused.
void WriteSettingInt(const char* section, const char* key, std::int32_t value);

const std::string& SettingsFilePath();
