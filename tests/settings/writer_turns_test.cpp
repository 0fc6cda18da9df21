// Windows writers of one settings file that reach it by different paths, and the temporary files of
// writers still at work and of writers that are gone.
#include <gtest/gtest.h>

#include <windows.h>
#undef WriteProfileString  // the desktop's own, not the one tested here

#include <atomic>
#include <set>
#include <thread>

#include "platform/files.h"
#include "shell/profile_file.h"
#include "test_support.h"

namespace {

std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

}  // namespace

// Catches writers that take turns only when they spell the path alike (a mapped drive and its UNC
// path): two writers, one by the plain path and one by its \\?\ form, each checking that its key
// still holds what it wrote last, must lose nothing and never fail.
TEST(WriterTurns, TwoSpellingsOfOneFileTakeTurns) {
    TempDir dir;
    const std::string path = dir.file("KOVEXFuel.INI");
    std::string initial = "[WINDOW]\r\nX=0\r\n[WINSIZE]\r\nWIDTH=0\r\n[PAD]\r\n";
    for (int i = 0; i < 500; ++i) initial += "P" + std::to_string(i) + "=" + std::string(40, 'p') + "\r\n";
    WriteBytes(path, initial);
    std::atomic<int> lost{-1};
    const auto writer = [&](const std::string& via, const char* section, const char* key) {
        for (int i = 0; i < 60 && lost < 0; ++i) {
            if (ReadProfileString(via, section, key, "") != std::to_string(i) ||
                !WriteProfileString(via, section, key, std::to_string(i + 1)))
                lost = i;
        }
    };
    std::thread plain(writer, path, "WINDOW", "X");
    std::thread prefixed(writer, "\\\\?\\" + path, "WINSIZE", "WIDTH");
    plain.join();
    prefixed.join();
    EXPECT_EQ(lost, -1) << "a key was lost or a write failed at step " << lost;
    EXPECT_EQ(ReadProfileString(path, "WINDOW", "X", ""), "60");
    EXPECT_EQ(ReadProfileString(path, "WINSIZE", "WIDTH", ""), "60");
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"KOVEXFuel.INI"});
}

// Catches a live writer's temporary file removed (its rename would then fail) or a gone writer's
// left: a writer holds its file open without delete-sharing until it has renamed it.
TEST(WriterTurns, OnlyGoneWritersTemporaryFilesAreRemoved) {
    TempDir dir;
    const std::string path = dir.file("KOVEXFuel.INI");
    WriteBytes(path, "[WINDOW]\r\nX=1\r\n");
    const std::string prefix = plat::ReplacementTempPrefix(path);
    WriteBytes(prefix + "999.1", "left by a killed writer");
    HANDLE live = ::CreateFileA((prefix + "998.1").c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(live, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "2"));
    EXPECT_FALSE(fs::exists(prefix + "999.1")) << "a gone writer's file was left";
    EXPECT_TRUE(fs::exists(prefix + "998.1")) << "a live writer's file was removed";
    ::CloseHandle(live);
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "3"));
    EXPECT_EQ(ReadBytes(path), "[WINDOW]\r\nX=3\r\n");
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"KOVEXFuel.INI"});
}
