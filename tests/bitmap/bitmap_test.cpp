// Bitmap reader tests: the public BMP test suite, hand-made layouts, the size caps and damaged input.
#include "render/bitmap.h"
#include "tests/bitmap/png_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kSuite = fs::path(KOVEX_SOURCE_DIR) / ".." / "shared" / "corpus" / "bmpsuite";

std::vector<fs::path> SuiteFiles(const char* folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(kSuite / folder))
        if (entry.is_regular_file() && entry.path().extension() == ".bmp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Pixel (x, y) of a record, y counted from the top like the PNG rows.
const std::uint8_t* PixelFromTop(const ImageRecord& image, int x, int y) {
    return image.data.data() + static_cast<std::size_t>(image.height - 1 - y) * BitmapRowStride(image.width) +
           static_cast<std::size_t>(x) * 3;
}

// Compares where the reference is opaque: the loader gives RGB only, and a transparent reference
// pixel (skipped run-length pixels, alpha channels) says nothing about the colour underneath.
// One step of tolerance covers the rounding of channels narrower than 8 bits.
::testing::AssertionResult MatchesReference(const ImageRecord& image, const fs::path& png) {
    RgbaPicture ref;
    if (!ReadPngRgba(png.string(), ref)) return ::testing::AssertionFailure() << "unreadable " << png;
    if (ref.width != image.width || ref.height != image.height)
        return ::testing::AssertionFailure() << "size " << image.width << "x" << image.height << " vs reference "
                                             << ref.width << "x" << ref.height;
    int compared = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const std::uint8_t* r = ref.rgba.data() + (static_cast<std::size_t>(y) * ref.width + x) * 4;
            if (r[3] != 255) continue;
            const std::uint8_t* p = PixelFromTop(image, x, y);
            for (int c = 0; c < 3; ++c)
                if (std::abs(static_cast<int>(p[c]) - r[c]) > 1)
                    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") channel " << c << ": "
                                                         << int(p[c]) << " vs " << int(r[c]);
            ++compared;
        }
    if (compared == 0) return ::testing::AssertionFailure() << "no opaque reference pixel";
    return ::testing::AssertionSuccess();
}

void ExpectWellFormed(const ImageRecord& image) {
    ASSERT_GT(image.width, 0);
    ASSERT_GT(image.height, 0);
    EXPECT_EQ(image.data.size(), BitmapRowStride(image.width) * static_cast<std::size_t>(image.height));
}

#define REQUIRE_SUITE() \
    if (!fs::is_directory(kSuite)) GTEST_SKIP() << "BMP test suite not found at " << kSuite

}  // namespace

// Catches variants the reader fails to read or reads with wrong colours, order or orientation.
TEST(BitmapSuite, GoodFilesLoadAndMatchTheirReferences) {
    REQUIRE_SUITE();
    int withReference = 0;
    for (const fs::path& file : SuiteFiles("g")) {
        SCOPED_TRACE(file.filename().string());
        const auto image = LoadBitmapFile(file.string());
        ASSERT_TRUE(image.has_value());
        ExpectWellFormed(*image);
        const fs::path png = kSuite / "reference" / (file.stem().string() + ".png");
        if (fs::exists(png)) {
            EXPECT_TRUE(MatchesReference(*image, png));
            ++withReference;
        }
    }
    EXPECT_GE(withReference, 10);
}

// Catches crashes, over-reads and huge allocations on invalid files. Three files are merely unusual
// and load: two with absurd pixel densities (never used for drawing) and one whose file size field
// is wrong while every byte of the picture is there (the desktop's loader ignores that field too).
// The 8-8-0 bit-field file has no blue bits at all; that is well defined, so it loads with blue 0
// and must then match its reference.
TEST(BitmapSuite, BadFilesAreRefusedUnlessMerelyUnusual) {
    REQUIRE_SUITE();
    const std::set<std::string> unusual = {"baddens1.bmp", "baddens2.bmp", "badfilesize.bmp", "rgb16-880.bmp"};
    for (const fs::path& file : SuiteFiles("b")) {
        SCOPED_TRACE(file.filename().string());
        const auto image = LoadBitmapFile(file.string());
        if (unusual.count(file.filename().string()) == 0) {
            EXPECT_FALSE(image.has_value());
            continue;
        }
        ASSERT_TRUE(image.has_value());
        ExpectWellFormed(*image);
        const fs::path png = kSuite / "reference" / (file.stem().string() + ".png");
        if (fs::exists(png)) {
            EXPECT_TRUE(MatchesReference(*image, png));
        }
    }
}

// Catches crashes on obscure variants; what does load must be well formed and, for the variants
// this reader claims (OS/2 2.x, odd bit fields, skipped run-length pixels), match the reference.
TEST(BitmapSuite, QuestionableFilesLoadOrAreRefusedSafely) {
    REQUIRE_SUITE();
    int loaded = 0;
    for (const fs::path& file : SuiteFiles("q")) {
        SCOPED_TRACE(file.filename().string());
        const auto image = LoadBitmapFile(file.string());
        if (!image) continue;
        ++loaded;
        ExpectWellFormed(*image);
        // Skipped run-length pixels take palette entry 0: the "-0" rendering.
        fs::path png = kSuite / "reference" / (file.stem().string() + "-0.png");
        if (!fs::exists(png)) png = kSuite / "reference" / (file.stem().string() + ".png");
        if (fs::exists(png)) {
            EXPECT_TRUE(MatchesReference(*image, png));
        }
    }
    EXPECT_GT(loaded, 0);
}

namespace {

// Builds a bottom-up or top-down BMP with an info header; pixels given top row first.
std::vector<std::uint8_t> MakeBmp(int width, int height, int bpp, const std::vector<std::uint8_t>& rowsTopFirst,
                                  bool topDown = false, const std::vector<std::uint32_t>& palette = {}) {
    const std::size_t srcStride = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * bpp + 7) / 8;
    const std::size_t offset = 14 + 40 + palette.size() * 4;
    std::vector<std::uint8_t> f(offset + srcStride * height, 0xEE);  // padding filled with junk on purpose
    auto u16 = [&](std::size_t at, std::uint32_t v) {
        f[at] = v & 0xFF;
        f[at + 1] = (v >> 8) & 0xFF;
    };
    auto u32 = [&](std::size_t at, std::uint32_t v) {
        u16(at, v & 0xFFFF);
        u16(at + 2, v >> 16);
    };
    f[0] = 'B';
    f[1] = 'M';
    u32(2, static_cast<std::uint32_t>(f.size()));
    u32(6, 0);
    u32(10, static_cast<std::uint32_t>(offset));
    u32(14, 40);
    u32(18, static_cast<std::uint32_t>(width));
    u32(22, static_cast<std::uint32_t>(topDown ? -height : height));
    u16(26, 1);
    u16(28, static_cast<std::uint32_t>(bpp));
    for (std::size_t at = 30; at < 54; at += 4) u32(at, 0);
    u32(46, static_cast<std::uint32_t>(palette.size()));
    for (std::size_t i = 0; i < palette.size(); ++i) u32(54 + i * 4, palette[i]);
    for (int y = 0; y < height; ++y) {
        const int fileRow = topDown ? y : height - 1 - y;
        std::copy_n(rowsTopFirst.begin() + static_cast<std::ptrdiff_t>(y * rowBytes), rowBytes,
                    f.begin() + static_cast<std::ptrdiff_t>(offset + fileRow * srcStride));
    }
    return f;
}

}  // namespace

// Catches rows that are not padded to 4 bytes, padding bytes copied into pixels, and top-down
// files left upside down.
TEST(BitmapLayout, OddWidthsAlignRowsAndTopDownFilesComeOutBottomFirst) {
    for (int width : {1, 2, 3, 5, 7}) {
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(testing::Message() << "width " << width << (topDown ? " top-down" : " bottom-up"));
            const int height = 3;
            std::vector<std::uint8_t> rows;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    rows.push_back(static_cast<std::uint8_t>(10 * x + 1));       // blue
                    rows.push_back(static_cast<std::uint8_t>(100 + y));          // green
                    rows.push_back(static_cast<std::uint8_t>(200 + x + 10 * y));  // red
                }
            const auto bytes = MakeBmp(width, height, 24, rows, topDown);
            const auto image = DecodeBitmap(bytes.data(), bytes.size());
            ASSERT_TRUE(image.has_value());
            ASSERT_EQ(image->width, width);
            ASSERT_EQ(image->height, height);
            const std::size_t stride = BitmapRowStride(width);
            EXPECT_EQ(stride % 4, 0u);
            EXPECT_GE(stride, static_cast<std::size_t>(width) * 3);
            EXPECT_LT(stride, static_cast<std::size_t>(width) * 3 + 4);
            ASSERT_EQ(image->data.size(), stride * height);
            for (int y = 0; y < height; ++y) {
                const std::uint8_t* row = image->data.data() + static_cast<std::size_t>(height - 1 - y) * stride;
                for (int x = 0; x < width; ++x) {
                    EXPECT_EQ(row[x * 3 + 0], 200 + x + 10 * y);
                    EXPECT_EQ(row[x * 3 + 1], 100 + y);
                    EXPECT_EQ(row[x * 3 + 2], 10 * x + 1);
                }
                for (std::size_t pad = static_cast<std::size_t>(width) * 3; pad < stride; ++pad)
                    EXPECT_EQ(row[pad], 0);
            }
        }
    }
}

// Catches palette lookups on sub-byte pixels and indices past the end of the palette.
TEST(BitmapLayout, PalettedPixelsAndOutOfRangeIndices) {
    // 4 bits per pixel, 3 pixels: indices 1, 0, 1 with a two-entry palette.
    const std::vector<std::uint32_t> palette = {0x00102030, 0x00A0B0C0};
    auto bytes = MakeBmp(3, 1, 4, {0x10, 0x10}, false, palette);
    auto image = DecodeBitmap(bytes.data(), bytes.size());
    ASSERT_TRUE(image.has_value());
    const std::vector<std::uint8_t> expected = {0xA0, 0xB0, 0xC0, 0x10, 0x20, 0x30, 0xA0, 0xB0, 0xC0};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image->data.begin()));
    bytes = MakeBmp(3, 1, 4, {0x12, 0x10}, false, palette);  // index 2 with two entries
    EXPECT_FALSE(DecodeBitmap(bytes.data(), bytes.size()).has_value());
}

// Catches the pixel cap not being applied (or applied one pixel too early) before allocating.
TEST(BitmapLayout, PixelCapIsEnforcedBeforeAllocation) {
    const int side = 4096;  // 4096 x 4096 = 16 Mpixel exactly
    const std::vector<std::uint8_t> rows(static_cast<std::size_t>(side / 8) * (side + 1), 0);
    auto atCap = MakeBmp(side, side, 1, rows, false, {0, 0xFFFFFF});
    const auto image = DecodeBitmap(atCap.data(), atCap.size());
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->data.size(), static_cast<std::size_t>(side) * 3 * side);
    auto overCap = MakeBmp(side, side + 1, 1, rows, false, {0, 0xFFFFFF});
    EXPECT_FALSE(DecodeBitmap(overCap.data(), overCap.size()).has_value());
    // A header claiming a huge picture with a few bytes behind it is refused, not allocated.
    auto huge = MakeBmp(1, 1, 24, {1, 2, 3});
    huge[18] = 0x00;
    huge[19] = 0x80;  // width 32768
    huge[22] = 0x00;
    huge[23] = 0x80;  // height 32768
    EXPECT_FALSE(DecodeBitmap(huge.data(), huge.size()).has_value());
}

// Catches reads past the end of truncated or damaged input (run under the address sanitizer).
TEST(BitmapRobustness, TruncatedAndMutatedFilesNeverCrash) {
    REQUIRE_SUITE();
    std::mt19937 random(1234);
    for (const fs::path& file : SuiteFiles("g")) {
        SCOPED_TRACE(file.filename().string());
        const auto original = ReadBytes(file);
        for (std::size_t cut = 0; cut < original.size(); cut += 1 + cut / 8) {
            std::vector<std::uint8_t> prefix(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(cut));
            const auto image = DecodeBitmap(prefix.data(), prefix.size());
            if (image) ExpectWellFormed(*image);
        }
        for (int round = 0; round < 150; ++round) {
            auto bytes = original;
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < flips; ++k) {
                // Mostly in the headers and palette, where damage is most likely to mislead.
                const std::size_t limit = std::min<std::size_t>(bytes.size(), random() % 2 ? 80 : bytes.size());
                bytes[random() % limit] = static_cast<std::uint8_t>(random());
            }
            const auto image = DecodeBitmap(bytes.data(), bytes.size());
            if (image) ExpectWellFormed(*image);
        }
    }
    EXPECT_FALSE(DecodeBitmap(nullptr, 0).has_value());
    EXPECT_FALSE(LoadBitmapFile("").has_value());
    EXPECT_FALSE(LoadBitmapFile(kSuite.string()).has_value());  // a directory
    EXPECT_FALSE(LoadBitmapFile((kSuite / "no-such-file.bmp").string()).has_value());
}
