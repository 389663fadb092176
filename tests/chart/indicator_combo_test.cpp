// Indicator combination files: a round trip through a file, the two older layouts, and hostile
// images (unknown magic, short files, pane counts and names out of bounds).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "chart/indicator_combo.h"
#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace tessaro::chart {
namespace {

void Put(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(IndicatorCombo, RoundTripThroughAFileInTheCurrentLayout) {
    TempDir dir;
    IndicatorCombination combo;
    combo.panes = {{{3, "MA"}, {0, "SEL"}}, {{4, "VOL"}}, {{4, "MACD"}, {4, "KDJ"}}};
    const std::string path = dir.path() + "/mine.icb";
    ASSERT_TRUE(SaveCombination(path, combo));
    EXPECT_EQ(FileSize(path), 4328);
    std::vector<uint8_t> bytes = *ReadWholeFile(path);
    EXPECT_EQ(std::memcmp(bytes.data(), "30CI", 4), 0);
    EXPECT_EQ(bytes[4], 3);
    // Pane 2, entry 1 starts at 8 + (2 * 30 + 1) * 24.
    EXPECT_EQ(bytes[8 + 61 * 24], 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 8 + 61 * 24 + 4), "KDJ");
    IndicatorCombination back;
    ComboError error;
    ASSERT_TRUE(LoadCombination(path, back, error));
    EXPECT_EQ(back.panes, combo.panes);
    // Overwriting leaves no temporary file beside it.
    combo.panes.pop_back();
    ASSERT_TRUE(SaveCombination(path, combo));
    ASSERT_TRUE(LoadCombination(path, back, error));
    EXPECT_EQ(back.panes.size(), 2u);
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1);
    EXPECT_FALSE(LoadCombination(dir.path() + "/none.icb", back, error));
    EXPECT_EQ(error, ComboError::kUnreadable);
}

TEST(IndicatorCombo, OlderLayoutsAreSubChartFormulas) {
    std::vector<uint8_t> v1(128, 0);
    Put(v1, 0, kComboMagicV1);
    Put(v1, 4, 3);
    std::memcpy(v1.data() + 8, "MA", 2);
    std::memcpy(v1.data() + 28, "VOL", 3);
    std::memcpy(v1.data() + 48, "MACD", 4);
    IndicatorCombination c;
    ComboError error;
    ASSERT_TRUE(ParseCombination(v1, c, error));
    ASSERT_EQ(c.panes.size(), 3u);
    EXPECT_EQ(c.panes[2], (std::vector<std::pair<uint32_t, std::string>>{{4, "MACD"}}));
    v1.pop_back();
    EXPECT_FALSE(ParseCombination(v1, c, error));
    EXPECT_EQ(error, ComboError::kTooShort);

    std::vector<uint8_t> v2(3608, 0);
    Put(v2, 0, kComboMagicV2);
    Put(v2, 4, 2);
    std::memcpy(v2.data() + 8 + 30 * 20, "KDJ", 3);       // pane 1, entry 0
    std::memcpy(v2.data() + 8 + 31 * 20, "RSI", 3);       // pane 1, entry 1
    std::memcpy(v2.data() + 8 + 33 * 20, "WR", 2);        // after an empty name: not read
    ASSERT_TRUE(ParseCombination(v2, c, error));
    EXPECT_TRUE(c.panes[0].empty());
    EXPECT_EQ(c.panes[1], (std::vector<std::pair<uint32_t, std::string>>{{4, "KDJ"}, {4, "RSI"}}));
}

TEST(IndicatorCombo, HostileImagesAreReadWithinBounds) {
    IndicatorCombination c;
    ComboError error;
    std::vector<uint8_t> b(kComboFileSize, 0);
    Put(b, 0, 0x12345678);
    EXPECT_FALSE(ParseCombination(b, c, error));
    EXPECT_EQ(error, ComboError::kUnknownFormat);
    EXPECT_FALSE(ParseCombination(std::span<const uint8_t>(b.data(), 3), c, error));
    EXPECT_EQ(error, ComboError::kTooShort);

    Put(b, 0, kComboMagic);
    Put(b, 4, 0x7FFFFFFF);  // a pane count far beyond 6
    // Every name fills its 20 bytes without a NUL; one entry has a type that is no formula type.
    for (size_t e = 0; e < 180; ++e) {
        Put(b, 8 + e * 24, e == 1 ? 0xFFFFFFFFu : 4u);
        std::memset(b.data() + 8 + e * 24 + 4, 'A' + static_cast<int>(e % 26), 20);
    }
    ASSERT_TRUE(ParseCombination(b, c, error));
    ASSERT_EQ(c.panes.size(), 6u);
    EXPECT_EQ(c.panes[0].size(), 29u);  // the bad type skipped
    EXPECT_EQ(c.panes[5].size(), 30u);
    EXPECT_EQ(c.panes[0][0].second, std::string(19, 'A'));
    Put(b, 4, 0xFFFFFFFF);  // -1
    ASSERT_TRUE(ParseCombination(b, c, error));
    EXPECT_EQ(c.panes.size(), 1u);
    b.resize(kComboFileSize - 1);
    EXPECT_FALSE(ParseCombination(b, c, error));
    EXPECT_TRUE(c.panes.empty());

    // Too many panes, entries and long names are cut when written.
    IndicatorCombination big;
    big.panes.assign(8, {});
    for (int i = 0; i < 35; ++i) big.panes[0].emplace_back(4, std::string(25, 'x'));
    const std::vector<uint8_t> out = SerializeCombination(big);
    ASSERT_EQ(out.size(), kComboFileSize);
    ASSERT_TRUE(ParseCombination(out, c, error));
    EXPECT_EQ(c.panes.size(), 6u);
    EXPECT_EQ(c.panes[0].size(), 30u);
    EXPECT_EQ(c.panes[0][0].second.size(), 19u);
}

TEST(IndicatorCombo, NamesThatCannotBeFileNamesAreRefused) {
    std::string path;
    EXPECT_TRUE(ComboFilePath("/x/icombo/", "我的组合", path));
    EXPECT_EQ(path, "/x/icombo/我的组合.icb");
    EXPECT_TRUE(ComboFilePath("/x/icombo", "a b", path));
    EXPECT_EQ(path, "/x/icombo/a b.icb");
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "a:b", "a*", "a?", "\"q\"", "<a>", "a|b", "a\nb"})
        EXPECT_FALSE(ComboFilePath("/x/", bad, path)) << bad;
    EXPECT_FALSE(ComboFilePath("/x/", std::string("a\0b", 3), path));
}

}  // namespace
}  // namespace tessaro::chart
