// Icon file reader tests: entry choice, bitmap and PNG entries, masks, orientation and damaged files.
#include "platform/sdl/icon_file.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "tests/settings/program_run.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// The colour of test pixel (x, y), y from the top, so orientation mistakes show.
std::uint8_t Red(int x, int) { return static_cast<std::uint8_t>(x * 7 + 1); }
std::uint8_t Green(int, int y) { return static_cast<std::uint8_t>(y * 11 + 2); }
std::uint8_t Blue(int x, int y) { return static_cast<std::uint8_t>((x + y) * 3); }
std::uint8_t Alpha(int x, int y) { return static_cast<std::uint8_t>((x * 31 + y * 17) % 256); }
bool MaskedOut(int x, int y) { return (x + 2 * y) % 5 == 0; }

// A bitmap entry: info header with doubled height, palette, colour rows and AND rows bottom-up.
Bytes BitmapEntry(int w, int h, int bpp, bool withMask = true) {
    Bytes b;
    const std::uint32_t paletteCount = bpp <= 8 ? (1u << bpp) : 0;
    Put32(b, 40);
    Put32(b, static_cast<std::uint32_t>(w));
    Put32(b, static_cast<std::uint32_t>(2 * h));
    Put16(b, 1);
    Put16(b, static_cast<std::uint32_t>(bpp));
    for (int i = 0; i < 6; ++i) Put32(b, 0);
    // Palette entry i: a grey level, so a pixel's index can be read back from its colour.
    for (std::uint32_t i = 0; i < paletteCount; ++i) {
        const std::uint32_t grey = i * 255 / (paletteCount - 1);
        Put32(b, grey | grey << 8 | grey << 16);
    }
    const std::size_t colorStride = ((static_cast<std::size_t>(w) * bpp + 31) / 32) * 4;
    const std::size_t maskStride = ((static_cast<std::size_t>(w) + 31) / 32) * 4;
    for (int y = h - 1; y >= 0; --y) {
        Bytes row(colorStride, 0);
        for (int x = 0; x < w; ++x) {
            if (bpp <= 8) {
                const std::uint32_t index = static_cast<std::uint32_t>(x + y) % paletteCount;
                const int perByte = 8 / bpp;
                row[x / perByte] |= static_cast<std::uint8_t>(index << (8 - bpp * (x % perByte + 1)));
            } else {
                std::uint8_t* p = row.data() + x * (bpp / 8);
                p[0] = Blue(x, y), p[1] = Green(x, y), p[2] = Red(x, y);
                if (bpp == 32) p[3] = Alpha(x, y);
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    if (withMask) {
        for (int y = h - 1; y >= 0; --y) {
            Bytes row(maskStride, 0);
            for (int x = 0; x < w; ++x)
                if (MaskedOut(x, y)) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            b.insert(b.end(), row.begin(), row.end());
        }
    }
    return b;
}

Bytes PngEntry(int w, int h) {
    Bytes rgba;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) rgba.insert(rgba.end(), {Red(x, y), Green(x, y), Blue(x, y), Alpha(x, y)});
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr));
    Bytes out(size);
    EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr));
    out.resize(size);
    return out;
}

struct Entry {
    int dirWidth;
    int dirHeight;
    int bits;
    Bytes data;
};

Bytes IconFile(const std::vector<Entry>& entries) {
    Bytes b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (const Entry& e : entries) {
        b.push_back(static_cast<std::uint8_t>(e.dirWidth & 0xFF));
        b.push_back(static_cast<std::uint8_t>(e.dirHeight & 0xFF));
        b.push_back(0);
        b.push_back(0);
        Put16(b, 1);
        Put16(b, static_cast<std::uint32_t>(e.bits));
        Put32(b, static_cast<std::uint32_t>(e.data.size()));
        Put32(b, offset);
        offset += static_cast<std::uint32_t>(e.data.size());
    }
    for (const Entry& e : entries) b.insert(b.end(), e.data.begin(), e.data.end());
    return b;
}

const std::uint8_t* At(const IconImage& image, int x, int y) {
    return image.rgba.data() + (static_cast<std::size_t>(y) * image.width + x) * 4;
}

}  // namespace

// Catches choosing an entry other than the largest, and wrong colours or row order in PNG entries.
TEST(IconChoice, LargestEntryWinsWhateverItsPlaceOrFormat) {
    const Bytes file = IconFile({{16, 16, 8, BitmapEntry(16, 16, 8)},
                                 {0, 0, 32, PngEntry(256, 256)},
                                 {32, 32, 32, BitmapEntry(32, 32, 32)}});
    IconImage image;
    ASSERT_TRUE(DecodeIcon(file.data(), file.size(), image));
    ASSERT_EQ(image.width, 256);
    ASSERT_EQ(image.height, 256);
    ASSERT_EQ(image.rgba.size(), 256u * 256 * 4);
    for (int y : {0, 1, 100, 255})
        for (int x : {0, 3, 200, 255}) {
            const std::uint8_t* p = At(image, x, y);
            EXPECT_EQ(p[0], Red(x, y));
            EXPECT_EQ(p[1], Green(x, y));
            EXPECT_EQ(p[2], Blue(x, y));
            EXPECT_EQ(p[3], Alpha(x, y));
        }
    // Between two entries of one size, the one with more colour bits.
    const Bytes tie = IconFile({{32, 32, 24, BitmapEntry(32, 32, 24)}, {32, 32, 32, BitmapEntry(32, 32, 32)}});
    ASSERT_TRUE(DecodeIcon(tie.data(), tie.size(), image));
    EXPECT_EQ(At(image, 5, 6)[3], Alpha(5, 6));
}

// Catches bitmap entries read upside down, with the doubled height taken as the picture's height,
// palette or AND mask ignored, or alpha of 32-bit entries lost.
TEST(IconBitmapEntries, EveryDepthWithItsMask) {
    for (int bpp : {1, 4, 8, 24, 32}) {
        SCOPED_TRACE(testing::Message() << bpp << " bits");
        const int w = 13, h = 9;  // odd sizes exercise row padding of both colour and mask rows
        const Bytes file = IconFile({{w, h, bpp, BitmapEntry(w, h, bpp)}});
        IconImage image;
        ASSERT_TRUE(DecodeIcon(file.data(), file.size(), image));
        ASSERT_EQ(image.width, w);
        ASSERT_EQ(image.height, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::uint8_t* p = At(image, x, y);
                if (bpp <= 8) {
                    const std::uint32_t count = 1u << bpp;
                    const std::uint32_t grey = (static_cast<std::uint32_t>(x + y) % count) * 255 / (count - 1);
                    EXPECT_EQ(p[0], grey);
                    EXPECT_EQ(p[2], grey);
                } else {
                    EXPECT_EQ(p[0], Red(x, y));
                    EXPECT_EQ(p[1], Green(x, y));
                    EXPECT_EQ(p[2], Blue(x, y));
                }
                const int alpha = bpp == 32 ? Alpha(x, y) : (MaskedOut(x, y) ? 0 : 255);
                EXPECT_EQ(p[3], alpha) << x << "," << y;
            }
    }
}

// Catches 32-bit entries whose alpha bytes are all zero being shown fully transparent, and 32-bit
// entries without a mask being refused.
TEST(IconBitmapEntries, ThirtyTwoBitAlphaAndMaskFallbacks) {
    Bytes entry = BitmapEntry(8, 8, 32);
    for (std::size_t i = 40 + 3; i < 40 + 8 * 8 * 4; i += 4) entry[i] = 0;
    Bytes file = IconFile({{8, 8, 32, entry}});
    IconImage image;
    ASSERT_TRUE(DecodeIcon(file.data(), file.size(), image));
    EXPECT_EQ(At(image, 0, 0)[3], 0);    // masked out
    EXPECT_EQ(At(image, 1, 0)[3], 255);  // kept
    file = IconFile({{8, 8, 32, BitmapEntry(8, 8, 32, false)}});
    ASSERT_TRUE(DecodeIcon(file.data(), file.size(), image));
    EXPECT_EQ(At(image, 3, 4)[3], Alpha(3, 4));
    // Other depths need their mask.
    file = IconFile({{8, 8, 24, BitmapEntry(8, 8, 24, false)}});
    EXPECT_FALSE(DecodeIcon(file.data(), file.size(), image));
}

// Catches malformed directories and entries being accepted or read out of bounds, and a failed
// decode changing the caller's picture.
TEST(IconRobustness, MalformedFilesAreRefusedSafely) {
    const Bytes good = IconFile({{16, 16, 4, BitmapEntry(16, 16, 4)}, {48, 48, 32, PngEntry(48, 48)}});
    IconImage image;
    image.width = 7;
    auto refused = [&](const Bytes& b) {
        const bool ok = DecodeIcon(b.data(), b.size(), image);
        return !ok && image.width == 7;
    };
    Bytes bad = good;
    bad[2] = 2;  // a cursor file, not an icon
    EXPECT_TRUE(refused(bad));
    bad = good;
    bad[4] = 0;  // no entries
    EXPECT_TRUE(refused(bad));
    bad = good;
    bad[4] = 200;  // more entries than the file holds
    EXPECT_TRUE(refused(bad));
    bad = good;
    bad[6 + 16 + 12 + 3] = 0x7F;  // PNG entry offset far past the end
    EXPECT_TRUE(refused(bad));
    bad = good;
    bad[6 + 16 + 8 + 3] = 0x7F;  // PNG entry length far past the end
    EXPECT_TRUE(refused(bad));
    bad = IconFile({{16, 16, 8, BitmapEntry(16, 16, 8)}});
    bad[6 + 16 + 4 + 1] = 0x40;  // bitmap width 16400
    EXPECT_TRUE(refused(bad));
    bad = IconFile({{16, 16, 8, BitmapEntry(16, 16, 8)}});
    bad[6 + 16 + 32] = 7;  // 7 palette entries, but the pixels use more
    EXPECT_TRUE(refused(bad));
    EXPECT_TRUE(refused(Bytes{}));
    EXPECT_FALSE(DecodeIcon(nullptr, 0, image));

    // Every prefix and a few hundred random damages: no crash, no read past the end.
    for (std::size_t cut = 0; cut < good.size(); cut += 1 + cut / 16) {
        const Bytes prefix(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        IconImage any;
        if (DecodeIcon(prefix.data(), prefix.size(), any)) {
            EXPECT_EQ(any.rgba.size(), static_cast<std::size_t>(any.width) * any.height * 4);
        }
    }
    std::mt19937 random(99);
    for (int round = 0; round < 400; ++round) {
        Bytes damaged = good;
        for (int k = 0; k < 3; ++k) damaged[random() % std::min<std::size_t>(damaged.size(), 160)] ^= 1u << (random() % 8);
        IconImage any;
        if (DecodeIcon(damaged.data(), damaged.size(), any)) {
            EXPECT_EQ(any.rgba.size(), static_cast<std::size_t>(any.width) * any.height * 4);
        }
    }
}

// Catches the file path failing where the memory path works, and missing files not being refused.
TEST(IconFiles, ReadsFromDiskAndRefusesMissingFiles) {
    const Bytes file = IconFile({{32, 32, 32, BitmapEntry(32, 32, 32)}});
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "kovex_icon_test.ico";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    IconImage image;
    EXPECT_TRUE(ReadIconFile(path.string(), image));
    EXPECT_EQ(image.width, 32);
    std::filesystem::remove(path);
    EXPECT_FALSE(ReadIconFile(path.string(), image));
    EXPECT_FALSE(ReadIconFile(std::filesystem::temp_directory_path().string(), image));
}

// Catches an icon that is a pipe holding up the start before any window, silently: the program
// must end at once with the icon's message and a non-zero status.
TEST(IconFiles, PipeEndsTheProgramInsteadOfHangingIt) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kovex-icon-pipe-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ASSERT_EQ(mkfifo((dir / "plane2.ico").c_str(), 0600), 0);
    const ProgramRun run = RunProgram(dir, 20000);
    EXPECT_TRUE(run.endedByItself) << "still running after 20 s";
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errors,
              "KOVEXFuel: Cannot load the window icon \"plane2.ico\": the file is missing or not a valid icon.\n");
    std::filesystem::remove_all(dir);
}
