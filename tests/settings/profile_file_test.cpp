// The INI reader and writer against the desktop's profile-file rules, on real files.
#include "shell/profile_file.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// Reads key from a file holding content.
std::string ReadFrom(const TempDir& dir, const std::string& content, const std::string& section,
                     const std::string& key, const std::string& def = "DEF",
                     std::size_t bufferSize = kProfileBufferSize) {
    const std::string path = dir.file("read.ini");
    WriteBytes(path, content);
    return ReadProfileString(path, section, key, def, bufferSize);
}

const char* const kTable =
    "[MySection]\r\n"
    "plain=value\r\n"
    "  spaced   =   padded value   \r\n"
    "tabbed\t=\tval\t\r\n"
    "quoted=\"q val\"\r\n"
    "quotedpad=\"  inner pad  \"\r\n"
    "quotedtrail=  \"q\"  \r\n"
    "halfquote=\"open only\r\n"
    "single='sq'\r\n"
    "empty=\r\n"
    "emptyblank=    \r\n"
    "inline=abc ; not a comment?\r\n"
    "noequals\r\n"
    "dup=first\r\n"
    "dup=second\r\n"
    "DUP=third\r\n"
    "a=b=c\r\n"
    ";commented=1\r\n"
    "  ;indented=2\r\n"
    "[  Spaced Section  ]\r\n"
    "inside=yes\r\n"
    "[MySection]\r\n"
    "onlysecond=2\r\n"
    "plain=shadowed\r\n";

}  // namespace

// Catches names matched with case, untrimmed names or values, or blanks kept outside quotes.
TEST(ProfileRead, NamesIgnoreCaseAndBlanksAreTrimmed) {
    TempDir dir;
    EXPECT_EQ(ReadFrom(dir, kTable, "MYSECTION", "PLAIN"), "value");
    EXPECT_EQ(ReadFrom(dir, kTable, "mysection", "Plain"), "value");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "spaced"), "padded value");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "  spaced  "), "padded value");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "tabbed"), "val");
    EXPECT_EQ(ReadFrom(dir, kTable, "Spaced Section", "inside"), "yes");
}

// Catches wrong quote handling: one balanced pair of " or ' goes, everything else stays.
TEST(ProfileRead, OnePairOfQuotesIsRemoved) {
    TempDir dir;
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "quoted"), "q val");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "quotedpad"), "  inner pad  ");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "quotedtrail"), "q");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "halfquote"), "\"open only");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "single"), "sq");
    EXPECT_EQ(ReadFrom(dir, "[s]\nmixed=\"x'\nlone=\"\n", "s", "mixed"), "\"x'");
    EXPECT_EQ(ReadFrom(dir, "[s]\nmixed=\"x'\nlone=\"\n", "s", "lone"), "\"");
}

// Catches empty values mistaken for absent keys, and defaults returned untrimmed or not at all.
TEST(ProfileRead, EmptyValuesAndDefaults) {
    TempDir dir;
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "empty"), "");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "emptyblank"), "");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "nosuchkey"), "DEF");
    EXPECT_EQ(ReadFrom(dir, kTable, "NoSuchSection", "plain"), "DEF");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "nosuchkey", "  def with blanks  "), "  def with blanks");
    EXPECT_EQ(ReadProfileString(dir.file("missing.ini"), "MySection", "plain", "DEF"), "DEF");
    EXPECT_EQ(ReadProfileString(dir.file("missing.ini"), "MySection", "plain", "d  "), "d");
}

// Catches lines parsed as the wrong kind: inline comments, lines without '=', comment lines.
TEST(ProfileRead, LineKinds) {
    TempDir dir;
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "inline"), "abc ; not a comment?");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "noequals"), "DEF");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "a"), "b=c");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "commented"), "DEF");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", ";commented"), "DEF");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "indented"), "DEF");
    EXPECT_EQ(ReadFrom(dir, "orphan=1\n[s]\nk=2\n", "s", "orphan"), "DEF");
    EXPECT_EQ(ReadFrom(dir, "[s\nk=2\n", "s", "k"), "DEF");  // no closing bracket: not a header
}

// Catches a later duplicate key or a later section of the same name overriding the first one.
TEST(ProfileRead, FirstOccurrenceWins) {
    TempDir dir;
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "dup"), "first");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "plain"), "value");
    EXPECT_EQ(ReadFrom(dir, kTable, "MySection", "onlysecond"), "DEF");
}

// Catches long values not cut at the buffer, or cut where a larger buffer is given.
TEST(ProfileRead, LongValuesAreCutAt2047) {
    TempDir dir;
    const std::string longValue(3000, 'v');
    const std::string content = "[s]\nlong=" + longValue + "\n";
    EXPECT_EQ(ReadFrom(dir, content, "s", "long"), longValue.substr(0, 2047));
    EXPECT_EQ(ReadFrom(dir, content, "s", "long", "DEF", 4096), longValue);
    EXPECT_EQ(ReadFrom(dir, "[s]\n", "s", "long", std::string(3000, 'd')), std::string(2047, 'd'));
}

// Catches line ends other than CRLF being misread, and a byte order mark hiding the first section.
TEST(ProfileRead, LineEndsAndByteOrderMark) {
    TempDir dir;
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        const std::string content = "[A]" + end + "k=1" + end + "[B]" + end + "k=2" + end;
        EXPECT_EQ(ReadFrom(dir, content, "A", "k"), "1");
        EXPECT_EQ(ReadFrom(dir, content, "B", "k"), "2");
    }
    EXPECT_EQ(ReadFrom(dir, "[A]\r\nk=1\n[B]\rk=2", "B", "k"), "2");
    EXPECT_EQ(ReadFrom(dir, "\xEF\xBB\xBF[A]\r\nk=1\r\n", "A", "k"), "1");
}

// Catches a missing file created with the wrong bytes.
TEST(ProfileWrite, MissingFileIsCreated) {
    TempDir dir;
    const std::string path = dir.file("new.ini");
    ASSERT_TRUE(WriteProfileString(path, "Settings", "Key", "Value"));
    EXPECT_EQ(ReadBytes(path), "[Settings]\r\nKey=Value\r\n");
}

// Catches an existing key duplicated or renamed instead of its value replaced in place.
TEST(ProfileWrite, ExistingKeyIsReplacedInPlace) {
    TempDir dir;
    const std::string path = dir.file("w.ini");
    WriteBytes(path, "; top\n[window]\nx = 5 \ny=\"7\"\nz=\n[Window]\nx=99\n");
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "-12"));
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "Y", "8"));
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "Z", "9"));
    EXPECT_EQ(ReadBytes(path), "; top\n[window]\nx = -12 \ny=8\nz=9\n[Window]\nx=99\n");
    WriteBytes(path, "[s]\ndup=1\nDUP=2\n");
    ASSERT_TRUE(WriteProfileString(path, "s", "dup", "3"));
    EXPECT_EQ(ReadBytes(path), "[s]\ndup=3\nDUP=2\n");
}

// Catches a new key put in the wrong place: it belongs at the end of the first section of its name.
TEST(ProfileWrite, MissingKeyIsAddedAtTheEndOfItsSection) {
    TempDir dir;
    const std::string path = dir.file("w.ini");
    WriteBytes(path, "[A]\nk=1\n; note\n\n[B]\nk=2\n[a]\n");
    ASSERT_TRUE(WriteProfileString(path, "a", "new", "3"));
    EXPECT_EQ(ReadBytes(path), "[A]\nk=1\n; note\nnew=3\r\n\n[B]\nk=2\n[a]\n");
    WriteBytes(path, "[A]\rk=1");  // last line without a line end
    ASSERT_TRUE(WriteProfileString(path, "A", "j", "2"));
    EXPECT_EQ(ReadBytes(path), "[A]\rk=1\r\nj=2\r\n");
    WriteBytes(path, "[A]");
    ASSERT_TRUE(WriteProfileString(path, "A", "j", "2"));
    EXPECT_EQ(ReadBytes(path), "[A]\r\nj=2\r\n");
}

// Catches a new section inserted anywhere but at the end, or glued to an unterminated last line.
TEST(ProfileWrite, MissingSectionIsAddedAtTheEnd) {
    TempDir dir;
    const std::string path = dir.file("w.ini");
    const std::string before = "\xEF\xBB\xBF; comment\n[LAN]\nUSELAN=Y\n\n";
    WriteBytes(path, before);
    ASSERT_TRUE(WriteProfileString(path, "WINSIZE", "WIDTH", "640"));
    EXPECT_EQ(ReadBytes(path), before + "[WINSIZE]\r\nWIDTH=640\r\n");
    WriteBytes(path, "[LAN]\nUSELAN=Y");
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "1"));
    EXPECT_EQ(ReadBytes(path), "[LAN]\nUSELAN=Y\r\n[WINDOW]\r\nX=1\r\n");
    WriteBytes(path, "");
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "1"));
    EXPECT_EQ(ReadBytes(path), "[WINDOW]\r\nX=1\r\n");
}

// Catches long values cut on write.
TEST(ProfileWrite, LongValueIsWrittenWhole) {
    TempDir dir;
    const std::string path = dir.file("w.ini");
    const std::string longValue(3000, 'w');
    ASSERT_TRUE(WriteProfileString(path, "s", "long", longValue));
    EXPECT_EQ(ReadProfileString(path, "s", "long", "", 4096), longValue);
    EXPECT_EQ(ReadProfileString(path, "s", "long", "").size(), 2047u);
}

// Catches text that would break the file's line structure being written anyway.
TEST(ProfileWrite, UnstorableNamesAndValuesAreRefused) {
    TempDir dir;
    const std::string path = dir.file("w.ini");
    const std::string before = "[s]\nk=1\n";
    WriteBytes(path, before);
    EXPECT_FALSE(WriteProfileString(path, "s", "k", "1\r\n[evil]"));
    EXPECT_FALSE(WriteProfileString(path, "s", "k", std::string("a\0b", 3)));
    EXPECT_FALSE(WriteProfileString(path, "s", "k=v", "1"));
    EXPECT_FALSE(WriteProfileString(path, "s", ";k", "1"));
    EXPECT_FALSE(WriteProfileString(path, "s", "[k]", "1"));
    EXPECT_FALSE(WriteProfileString(path, "s\nt", "k", "1"));
    EXPECT_FALSE(WriteProfileString(path, " ", "k", "1"));
    EXPECT_FALSE(WriteProfileString(path, "s", "", "1"));
    EXPECT_EQ(ReadBytes(path), before);
}

// Catches a read-back that differs from what was written, across many keys and sections.
TEST(ProfileWrite, WrittenValuesReadBack) {
    TempDir dir;
    const std::string path = dir.file("w.ini");
    for (int round = 0; round < 3; ++round) {
        for (int s = 0; s < 4; ++s) {
            for (int k = 0; k < 5; ++k) {
                ASSERT_TRUE(WriteProfileString(path, "S" + std::to_string(s), "K" + std::to_string(k),
                                               std::to_string(round * 100 + s * 10 + k)));
            }
        }
    }
    for (int s = 0; s < 4; ++s) {
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(ReadProfileString(path, "s" + std::to_string(s), "k" + std::to_string(k), ""),
                      std::to_string(200 + s * 10 + k));
        }
    }
    EXPECT_EQ(ReadBytes(path).size(), 4 * (std::string("[S0]\r\n").size() + 5 * std::string("K0=200\r\n").size()));
}

namespace {

// text as UTF-16 with its byte-order mark.
std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string bytes;
    for (const char16_t unit : u"\uFEFF" + text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

}  // namespace

// Catches a UTF-16 file (a desktop editor's "Unicode") read as bytes, written back with ASCII lines,
// or losing what it holds besides the changed key: other scripts, characters beyond 16 bits, lone
// surrogates and an odd last byte.
TEST(ProfileUtf16, ReadAndWrittenBackInUtf16) {
    TempDir dir;
    const std::string path = dir.file("unicode.ini");
    const std::u16string before = u"; r\u00E9glages \u2708 \U0001F6E9 \xD800 x\r\n[WINDOW]\r\nX=120\r\n";
    const std::u16string after = u"; r\u00E9glages \u2708 \U0001F6E9 \xD800 x\r\n[WINDOW]\r\nX=7\r\nY=-3\r\n"
                                 u"[WINSIZE]\r\nWIDTH=640\r\n";
    for (const bool big : {false, true}) {
        WriteBytes(path, Utf16(before, big) + "\x01");
        EXPECT_EQ(ReadProfileString(path, "window", "x", ""), "120");
        ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "7"));
        ASSERT_TRUE(WriteProfileString(path, "WINDOW", "Y", "-3"));
        ASSERT_TRUE(WriteProfileString(path, "WINSIZE", "WIDTH", "640"));
        EXPECT_EQ(ReadBytes(path), Utf16(after, big) + "\x01") << (big ? "big-endian" : "little-endian");
        EXPECT_EQ(ReadProfileString(path, "WINSIZE", "WIDTH", ""), "640");
        // Text that is not UTF-8 has no UTF-16 form: refused, the file as it was.
        EXPECT_FALSE(WriteProfileString(path, "WINDOW", "X", "\xE9"));
        EXPECT_EQ(ReadBytes(path), Utf16(after, big) + "\x01");
    }
    // A file of only the mark gets its first key in UTF-16.
    WriteBytes(path, "\xFF\xFE");
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "1"));
    EXPECT_EQ(ReadBytes(path), Utf16(u"[WINDOW]\r\nX=1\r\n", false));
}
