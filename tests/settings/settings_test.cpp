// Loading the settings file into the shell state and the key helpers, on real files.
#include "shell/settings.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "base/errors.h"
#include "base/textconversions.h"
#include "shell/shellstate.h"
#include "test_support.h"

namespace {

// Runs LoadSettings with the working directory in a fresh folder holding the given file (if any).
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::current_path(dir_.path());
        // Stale values that LoadSettings must replace.
        useLan = true;
        serverAddress = "stale";
        serverPort = "stale";
        windowX = windowY = windowWidth = windowHeight = -5;
        borderless = true;
    }
    void TearDown() override { fs::current_path(previous_); }

    void Load(const std::string& content) {
        WriteBytes(dir_.file("KOVEXFuel.INI"), content);
        LoadSettings();
    }
    std::string LoadError(const std::string& content) {
        try {
            Load(content);
        } catch (const KovexError& error) {
            return error.what();
        }
        return "no error";
    }

    TempDir dir_;
    fs::path previous_;
};

std::string ConversionError(const std::string& text) {
    try {
        TextToInt32(text);
    } catch (const KovexError& error) {
        return error.what();
    }
    return "no error";
}

}  // namespace

// Catches numbers accepted that don't fit or don't parse, and the wrong error text.
TEST(SettingsConversion, TextToInt32) {
    EXPECT_EQ(TextToInt32("0"), 0);
    EXPECT_EQ(TextToInt32("120"), 120);
    EXPECT_EQ(TextToInt32("+7"), 7);
    EXPECT_EQ(TextToInt32("-35"), -35);
    EXPECT_EQ(TextToInt32("007"), 7);
    EXPECT_EQ(TextToInt32("$1F"), 31);
    EXPECT_EQ(TextToInt32("$1f"), 31);
    EXPECT_EQ(TextToInt32("$FFFFFFFF"), -1);
    EXPECT_EQ(TextToInt32("2147483647"), 2147483647);
    EXPECT_EQ(TextToInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(ConversionError(""), "'' is not a valid integer value");
    EXPECT_EQ(ConversionError("12a"), "'12a' is not a valid integer value");
    EXPECT_EQ(ConversionError("2147483648"), "'2147483648' is not a valid integer value");
    EXPECT_EQ(ConversionError("-2147483649"), "'-2147483649' is not a valid integer value");
    EXPECT_EQ(ConversionError("99999999999999999999999"), "'99999999999999999999999' is not a valid integer value");
    EXPECT_EQ(ConversionError("$100000000"), "'$100000000' is not a valid integer value");
    for (const char* bad : {"-", "+", "$", "$G", "1 2", " 1", "1.5", "--1", "-$1", "0x10", "1e3"}) {
        EXPECT_EQ(ConversionError(bad), "'" + std::string(bad) + "' is not a valid integer value") << bad;
    }
}

// Catches trimming that spares control characters or bytes above 127 counted as blanks.
TEST(SettingsConversion, TrimBlanks) {
    EXPECT_EQ(TrimBlanks(" \t\x01 120 \x1f\r\n"), "120");
    EXPECT_EQ(TrimBlanks("a b"), "a b");
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_EQ(TrimBlanks("\xE9x\xA0"), "\xE9x\xA0");
}

// Catches wrong defaults, or a file created by merely loading.
TEST_F(SettingsTest, NoFileGivesDefaults) {
    LoadSettings();
    EXPECT_EQ(SettingsFilePath(), (fs::current_path() / "KOVEXFuel.INI").string());
    EXPECT_FALSE(useLan);
    EXPECT_EQ(serverAddress, "");
    EXPECT_EQ(serverPort, "");
    EXPECT_EQ(windowX, 0);
    EXPECT_EQ(windowY, 0);
    EXPECT_EQ(windowWidth, 400);
    EXPECT_EQ(windowHeight, 400);
    EXPECT_FALSE(borderless);
    EXPECT_FALSE(fs::exists(SettingsFilePath()));
}

// Catches a network road chosen without all three of exact "Y", a server and a port.
TEST_F(SettingsTest, UseLanRules) {
    Load("[LAN]\nUSELAN=Y\nKOVEXSERVER= 192.168.1.5 \nKOVEXPORT=8123\n");
    EXPECT_TRUE(useLan);
    EXPECT_EQ(serverAddress, "192.168.1.5");
    EXPECT_EQ(serverPort, "8123");

    for (const char* value : {"y", "Yes", "1", "YES", "\"N\""}) {
        Load(std::string("[LAN]\nUSELAN=") + value + "\nKOVEXSERVER=host\nKOVEXPORT=8123\n");
        EXPECT_FALSE(useLan) << value;
        EXPECT_EQ(serverAddress, "host");
    }
    Load("[lan]\nuselan= \"Y\" \nkovexserver=host\nkovexport=8123\n");
    EXPECT_TRUE(useLan);

    Load("[LAN]\nUSELAN=Y\nKOVEXSERVER=host\n");  // no port: FSUIPC road, no error
    EXPECT_FALSE(useLan);
    EXPECT_EQ(serverAddress, "host");
    EXPECT_EQ(serverPort, "");

    Load("[LAN]\nUSELAN=Y\nKOVEXSERVER=\x01 \nKOVEXPORT=port-text\n");
    EXPECT_FALSE(useLan);
    EXPECT_EQ(serverAddress, "");
    EXPECT_EQ(serverPort, "port-text");  // the client judges the port later
}

// Catches a border decided by anything but an exact "Y" (absent meaning "Y").
TEST_F(SettingsTest, ActiveRules) {
    Load("[WINBORDER]\nACTIVE=Y\n");
    EXPECT_FALSE(borderless);
    Load("[WINBORDER]\n");
    EXPECT_FALSE(borderless);
    for (const char* value : {"N", "y", "", "Yes"}) {
        Load(std::string("[WINBORDER]\nACTIVE=") + value + "\n");
        EXPECT_TRUE(borderless) << value;
    }
}

// Catches geometry not trimmed, not converted, or not taken from the right keys.
TEST_F(SettingsTest, GeometryIsReadTrimmedAndConverted) {
    Load("[WINSIZE]\nHEIGHT=$20\nWIDTH=\t640\x01\n[WINDOW]\nY=-30\nX= 120 \n");
    EXPECT_EQ(windowX, 120);
    EXPECT_EQ(windowY, -30);
    EXPECT_EQ(windowWidth, 640);
    EXPECT_EQ(windowHeight, 32);
}

// Catches bad numbers slipping through as 0 instead of ending the program with the exact text.
TEST_F(SettingsTest, BadNumbersRaise) {
    EXPECT_EQ(LoadError("[WINSIZE]\nWIDTH=\n"), "'' is not a valid integer value");
    EXPECT_EQ(LoadError("[WINDOW]\nX=12a\n"), "'12a' is not a valid integer value");
    EXPECT_EQ(LoadError("[WINDOW]\nY=  2147483648  \n"), "'2147483648' is not a valid integer value");
    EXPECT_EQ(LoadError("[WINSIZE]\nHEIGHT=-2147483648\n"), "no error");
    EXPECT_EQ(windowHeight, INT32_MIN);
}

// Catches writes that are cached, not visible to the next read, or that create more than the key.
TEST_F(SettingsTest, WritesAreInTheFileAtOnce) {
    LoadSettings();
    WriteSettingInt("WINDOW", "X", 1);
    EXPECT_EQ(ReadBytes(SettingsFilePath()), "[WINDOW]\r\nX=1\r\n");
    EXPECT_EQ(ReadSettingInt("WINDOW", "X", "0"), 1);
    WriteSettingInt("WINDOW", "Y", -7);
    WriteSettingInt("WINSIZE", "WIDTH", 401);
    WriteSettingInt("WINSIZE", "HEIGHT", INT32_MIN);
    WriteSettingInt("WINDOW", "X", 2147483647);
    ReadWindowGeometry();
    EXPECT_EQ(windowX, 2147483647);
    EXPECT_EQ(windowY, -7);
    EXPECT_EQ(windowWidth, 401);
    EXPECT_EQ(windowHeight, INT32_MIN);
    EXPECT_EQ(ReadBytes(SettingsFilePath()),
              "[WINDOW]\r\nX=2147483647\r\nY=-7\r\n[WINSIZE]\r\nWIDTH=401\r\nHEIGHT=-2147483648\r\n");
    // An edit by another program between two reads is seen: nothing is cached.
    WriteBytes(SettingsFilePath(), "[WINDOW]\nX=5\n");
    EXPECT_EQ(ReadSettingText("window", "x", "0"), "5");
    EXPECT_EQ(ReadSettingText("WINDOW", "Y", "0"), "0");
}

// Catches the path taken from anywhere but the working directory at load time.
TEST_F(SettingsTest, PathIsFixedAtLoad) {
    LoadSettings();
    const std::string path = SettingsFilePath();
    fs::create_directory(dir_.path() / "elsewhere");
    fs::current_path(dir_.path() / "elsewhere");
    WriteSettingInt("WINDOW", "X", 3);
    EXPECT_EQ(SettingsFilePath(), path);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_FALSE(fs::exists(dir_.path() / "elsewhere" / "KOVEXFuel.INI"));
}

// Catches a refused write passing silently or with the wrong text.
TEST_F(SettingsTest, RefusedWriteRaisesWithThePath) {
    LoadSettings();
    const std::string saved = settingsFile.path;
    settingsFile.path = (dir_.path() / "no-such-folder" / "KOVEXFuel.INI").string();
    try {
        WriteSettingInt("WINDOW", "X", 1);
        ADD_FAILURE() << "no error";
    } catch (const KovexError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + settingsFile.path);
    }
    EXPECT_FALSE(fs::exists(dir_.path() / "no-such-folder"));
    settingsFile.path = saved;
}
