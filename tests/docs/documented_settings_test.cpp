// Every settings example a user may copy (the README, the Windows read-me, the sample file) read
// through the program's own settings reader.
#include "shell/settings.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

#include "../settings/test_support.h"
#include "base/errors.h"
#include "base/textconversions.h"

namespace {

const std::string kSource = KOVEX_SOURCE_DIR;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The README's ```ini blocks.
std::vector<std::string> FencedIniBlocks(const std::string& text) {
    std::vector<std::string> blocks;
    std::string block;
    bool inside = false;
    for (const std::string& line : Lines(text)) {
        if (!inside && line == "```ini") {
            inside = true;
            block.clear();
        } else if (inside && line == "```") {
            inside = false;
            blocks.push_back(block);
        } else if (inside) {
            block += line + "\r\n";
        }
    }
    return blocks;
}

// The plain-text read-me's indented examples: from an indented section header to the next blank line.
std::vector<std::string> IndentedIniBlocks(const std::string& text) {
    std::vector<std::string> blocks;
    std::string block;
    bool inside = false;
    for (const std::string& line : Lines(text)) {
        const std::string trimmed = TrimBlanks(line);
        const bool header = trimmed.size() > 2 && trimmed.front() == '[' && trimmed.back() == ']';
        if (!inside && line.size() > trimmed.size() && header) inside = true;
        if (inside && trimmed.empty()) {
            inside = false;
            blocks.push_back(block);
            block.clear();
        }
        if (inside) block += trimmed + "\r\n";
    }
    if (inside) blocks.push_back(block);
    return blocks;
}

struct KeyLine {
    std::string section, key, value;
};

std::vector<KeyLine> KeyLines(const std::string& block) {
    std::vector<KeyLine> keys;
    std::string section;
    for (const std::string& line : Lines(block)) {
        const std::string trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed[0] == ';') continue;
        if (trimmed[0] == '[') {
            section = trimmed.substr(1, trimmed.find(']') - 1);
            continue;
        }
        const std::size_t equals = trimmed.find('=');
        if (equals == std::string::npos) continue;
        keys.push_back({section, TrimBlanks(trimmed.substr(0, equals)), TrimBlanks(trimmed.substr(equals + 1))});
    }
    return keys;
}

// Loads the block as the program would and checks that every value reads as what it shows, with no
// trailing remark taken into the value.
void ExpectUsable(const std::string& where, const std::string& block) {
    SCOPED_TRACE(where + ":\n" + block);
    TempDir dir;
    WriteBytes(dir.file(kSettingsFileName), block);
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    try {
        LoadSettings();
    } catch (const KovexError& error) {
        ADD_FAILURE() << "the program would not start: " << error.what();
    }
    const std::vector<KeyLine> keys = KeyLines(block);
    EXPECT_FALSE(keys.empty());
    for (const KeyLine& line : keys) {
        const std::string value = ReadSettingText(line.section.c_str(), line.key.c_str(), "");
        EXPECT_EQ(value.find_first_of(" \t;<>"), std::string::npos) << line.key << " reads as '" << value << "'";
        if (line.key == "USELAN" || line.key == "ACTIVE") {
            EXPECT_TRUE(value == "Y" || value == "N") << line.key << " reads as '" << value << "'";
        }
        if (line.key == "KOVEXPORT") {
            std::int32_t port = 0;
            EXPECT_NO_THROW(port = TextToInt32(value)) << value;
            EXPECT_TRUE(port > 0 && port < 65536) << value;
        }
    }
    fs::current_path(previous);
}

}  // namespace

// Catches a documented example that stops the program or silently changes a setting.
TEST(DocumentedSettings, EveryExampleIsAFileTheProgramStartsWith) {
    const std::vector<std::string> readme = FencedIniBlocks(ReadBytes(kSource + "/README.md"));
    ASSERT_FALSE(readme.empty()) << "no ```ini example found in README.md";
    for (const std::string& block : readme) ExpectUsable("README.md", block);

    const std::vector<std::string> windows = IndentedIniBlocks(ReadBytes(kSource + "/packaging/windows/README.txt"));
    ASSERT_FALSE(windows.empty()) << "no settings example found in the Windows read-me";
    for (const std::string& block : windows) ExpectUsable("packaging/windows/README.txt", block);

    ExpectUsable("assets/KOVEXFuel.INI", ReadBytes(kSource + "/assets/KOVEXFuel.INI"));
}
