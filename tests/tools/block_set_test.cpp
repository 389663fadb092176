// Block files, the block set and the block-management model.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/process_lock.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"
#include "tools/blocks/block_management.h"

namespace tessaro {
namespace {

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

CodeEntry Entry(MarketCode m, std::string_view code, uint16_t cls, std::string_view nameUtf8 = "x") {
    CodeEntry e;
    e.id = MakeSecurityId(m, code);
    e.securityClass = cls;
    e.setName(G(nameUtf8));
    return e;
}

TEST(BlockFile, RoundTripAndDamagedFiles) {
    BlockFileData b;
    b.setting = kBlockServer;
    b.name = G("银行");
    b.indexCode = "999100";
    b.category = G("行业");
    b.extra = 77;
    b.members = {MakeSecurityId(kMarketSH, "600000"), MakeSecurityId(kMarketSZ, "000001")};
    std::vector<uint8_t> image = SerializeBlockFile(b);
    ASSERT_EQ(image.size(), 114u + 24u);
    auto back = ParseBlockFile(image);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->setting, 0u);
    EXPECT_EQ(back->name, b.name);
    EXPECT_EQ(back->indexCode, "999100");
    EXPECT_EQ(back->category, b.category);
    EXPECT_EQ(back->extra, 77u);
    ASSERT_EQ(back->members.size(), 2u);
    EXPECT_TRUE(SameSecurity(back->members[1], b.members[1]));
    EXPECT_NE(back->crc, 0u);

    // A partial member at the end is dropped, never read past the file.
    std::vector<uint8_t> partial = image;
    partial.resize(image.size() - 5);
    ASSERT_TRUE(ParseBlockFile(partial));
    EXPECT_EQ(ParseBlockFile(partial)->members.size(), 1u);
    // Wrong magic, short header: not a block.
    std::vector<uint8_t> wrong = image;
    wrong[0] ^= 1;
    EXPECT_FALSE(ParseBlockFile(wrong));
    EXPECT_FALSE(ParseBlockFile(std::span(image).first(113)));
    // A member with an unknown market or no code is passed over.
    std::vector<uint8_t> junk = image;
    junk[114] = 'X';
    EXPECT_EQ(ParseBlockFile(junk)->members.size(), 1u);
}

TEST(BlockFile, UsableNames) {
    for (std::string bad : {std::string(""), std::string("   "), std::string("a/b"), std::string(".."),
                            std::string("x..y"), std::string("a\\b"), std::string("a\x01"), std::string("a\0b", 3),
                            std::string("a\x7f"), std::string(40, 'n'), std::string("\xD2")})
        EXPECT_FALSE(IsUsableBlockName(bad)) << bad;
    EXPECT_TRUE(IsUsableBlockName(G("自选股1")));
    EXPECT_TRUE(IsUsableBlockName("My Block"));
    // A double-byte character whose second byte is 0x5C is no separator.
    EXPECT_TRUE(IsUsableBlockName("\x81\x5C"));
    EXPECT_EQ(BlockFilePath(AppPaths("/d"), "a/b"), "");
    EXPECT_EQ(BlockFilePath(AppPaths("/d"), G("银行")), "/d/block/银行.blk");
}

TEST(BlockFile, ComputedSettingsRoundTrip) {
    std::vector<ComputedBlockSetting> s = {{G("强势"), 3, -1, "MACD"}};
    std::vector<uint8_t> image = SerializeComputedBlockFile(s);
    ASSERT_EQ(image.size(), 4u + 105u);
    image.push_back(0);  // a partial record
    auto back = ParseComputedBlockFile(image);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 1u);
    EXPECT_EQ((*back)[0].name, G("强势"));
    EXPECT_EQ((*back)[0].second, -1);
    EXPECT_EQ((*back)[0].formulaName, "MACD");
    image[0] = 0;
    EXPECT_FALSE(ParseComputedBlockFile(image));
}

TEST(BlockSet, SystemBlocksAndRules) {
    BlockSet set;
    set.BuildSystemBlocks(Entry(kMarketSystem, "999999", kClassIndex));
    std::vector<Block> blocks = set.Blocks();
    ASSERT_EQ(blocks.size(), 21u);
    EXPECT_EQ(blocks.front().name, G("沪市A股"));
    EXPECT_EQ(blocks[14].name, G("板块指数"));
    EXPECT_EQ(blocks.back().name, G("创业板"));
    EXPECT_EQ(set.FindBlock(G("沪深A股"))->indexCode, "999999");

    set.RegisterSecurity(Entry(kMarketSH, "600000", kClassAShare, "浦发银行"));
    set.RegisterSecurity(Entry(kMarketSH, "600000", kClassAShare, "浦发银行"));  // once
    set.RegisterSecurity(Entry(kMarketSZ, "002001", kClassAShare, "ST新和"));
    set.RegisterSecurity(Entry(kMarketSZ, "300001", kClassAShare, "特锐德"));
    set.RegisterSecurity(Entry(kMarketSH, "799999", kClassOther));
    set.RegisterSecurity(Entry(kMarketSystem, "999100", kClassIndex));
    auto members = [&](std::string_view name) { return set.FindBlock(G(name))->members.size(); };
    EXPECT_EQ(members("沪市A股"), 1u);
    EXPECT_EQ(members("沪深A股"), 3u);
    EXPECT_EQ(members("中小板"), 1u);
    EXPECT_EQ(members("创业板"), 1u);
    EXPECT_EQ(members("沪深ST"), 1u);
    EXPECT_EQ(members("沪市其它"), 1u);  // class 0 with class mask 0
    EXPECT_EQ(members("深市其它"), 0u);
    EXPECT_EQ(members("板块指数"), 1u);
    // Case-insensitive lookup.
    EXPECT_TRUE(set.FindBlock(G("沪深st")));
}

TEST(BlockSet, LoadsFilesAndCreatesSelfSelectedOnce) {
    TempDir dir;
    AppPaths paths(dir.path());
    ASSERT_TRUE(CreateDirectories(paths.blockDir()));
    BlockFileData a;
    a.setting = kBlockServer;
    a.name = G("银行");
    a.members = {MakeSecurityId(kMarketSH, "600000")};
    ASSERT_TRUE(WriteBlockFile(paths.blockDir() + "a.blk", a));
    ASSERT_TRUE(WriteBlockFile(paths.blockDir() + "b.blk", a));  // the same name again
    std::vector<uint8_t> wrong = SerializeBlockFile(a);
    wrong[3] = 0;
    ASSERT_TRUE(WriteFileAtomic(paths.blockDir() + "x.blk", wrong));
    ASSERT_TRUE(WriteFileAtomic(paths.blockIni(), std::string_view("[OTHER]\nk=v\n")));

    BlockSet set(paths);
    set.BuildSystemBlocks();
    EXPECT_EQ(set.LoadBlockFiles(), 1);
    ASSERT_TRUE(set.CreateSelfSelectedBlocks());
    EXPECT_EQ(set.size(), 21u + 1u + 9u);
    EXPECT_TRUE(FileExists(paths.blockDir() + "自选股9.blk"));
    std::vector<uint8_t> iniBytes = *ReadWholeFile(paths.blockIni());
    std::string ini(iniBytes.begin(), iniBytes.end());
    EXPECT_EQ(IniValue(ini, "OTHER", "k"), "v");
    EXPECT_EQ(IniValue(ini, "normal", "autocreateselfblk"), "1");

    // Once created, a deleted self-selected block stays deleted.
    std::filesystem::remove(paths.blockDir() + "自选股3.blk");
    BlockSet again(paths);
    again.BuildSystemBlocks();
    again.LoadBlockFiles();
    ASSERT_TRUE(again.CreateSelfSelectedBlocks());
    EXPECT_FALSE(again.FindBlock(G("自选股3")));
    EXPECT_TRUE(again.FindBlock(G("自选股4")));
}

struct CountingPrompt : BlockPrompt {
    bool answer = true;
    std::vector<std::string> questions, errors;
    bool Question(std::string_view t) override {
        questions.emplace_back(t);
        return answer;
    }
    void Error(std::string_view t) override { errors.emplace_back(t); }
};

class BlockManagement : public ::testing::Test {
protected:
    BlockManagement() : paths(dir.path()), set(paths), manager(set, prompt) {
        set.BuildSystemBlocks();
        set.CreateSelfSelectedBlocks();
    }
    TempDir dir;
    AppPaths paths;
    BlockSet set;
    CountingPrompt prompt;
    BlockManager manager;
};

TEST_F(BlockManagement, CreateRefusals) {
    BlockOpResult r = manager.Create(G("自选股3"));
    EXPECT_EQ(r.status, BlockOpStatus::Refused);
    EXPECT_EQ(r.message, kBlockExists);
    for (std::string bad : {std::string("../evil"), std::string("  "), std::string("a\nb")}) {
        r = manager.Create(bad);
        EXPECT_EQ(r.message, kBlockBadName) << bad;
    }
    EXPECT_FALSE(FileExists(paths.appDir() + "evil.blk"));
    EXPECT_EQ(prompt.errors.size(), 4u);
    EXPECT_EQ(manager.Create(G("沪市A股")).message, kBlockExists);
    EXPECT_EQ(manager.Create("x", kBlockRule).status, BlockOpStatus::NotAllowed);

    // A file that cannot be written keeps nothing.
    std::filesystem::create_directories(paths.blockDir() + "stuck.blk");
    EXPECT_EQ(manager.Create("stuck").message, kBlockBadName);
    EXPECT_FALSE(set.FindBlock("stuck"));
    EXPECT_TRUE(manager.Create("ok", kBlockScreening, G("概念")).ok());
    EXPECT_EQ(ReadBlockFile(paths.blockDir() + "ok.blk")->setting, kBlockScreening);
}

TEST_F(BlockManagement, IndexCodesByCategoryAndReuse) {
    ASSERT_TRUE(manager.Create("a", kBlockServer, G("行业")).ok());
    ASSERT_TRUE(manager.Create("b", kBlockServer, G("行业")).ok());
    ASSERT_TRUE(manager.Create("c", kBlockServer, G("概念")).ok());
    EXPECT_EQ(manager.CreateIndex("a").code, "999100");
    EXPECT_EQ(manager.CreateIndex("b").code, "999101");
    EXPECT_EQ(manager.CreateIndex("c").code, "998001");
    EXPECT_EQ(prompt.questions.back(),
              "板块名:c 指数代码:998001 ，使用前需在[数据管理]中刷新指数 ,真的要建立指数吗？");
    EXPECT_EQ(ReadBlockFile(paths.blockDir() + "b.blk")->indexCode, "999101");
    EXPECT_TRUE(manager.DeleteIndex("a").ok());
    EXPECT_EQ(prompt.questions.back(), kBlockIndexDeleteQuestion);
    ASSERT_TRUE(manager.Create("d", kBlockServer, G("行业")).ok());
    EXPECT_EQ(manager.CreateIndex("d").code, "999100");
    // No: nothing stored.
    prompt.answer = false;
    EXPECT_EQ(manager.CreateIndex("a").status, BlockOpStatus::Declined);
    EXPECT_TRUE(set.FindBlock("a")->indexCode.empty());
    EXPECT_EQ(BlockManager::ListItemText(*set.FindBlock("b")), "b 分类:行业,代码:999101,股票数:0");
}

TEST_F(BlockManagement, MembersAndMessages) {
    const SecurityId ids[] = {MakeSecurityId(kMarketSH, "600000"), MakeSecurityId(kMarketSZ, "000002"),
                              MakeSecurityId(kMarketSH, "600000")};
    EXPECT_EQ(manager.AddMembers("none", ids).message, kBlockNoneSelected);
    EXPECT_EQ(manager.AddMembers(G("自选股1"), {}).message, kBlockNoSecuritySelected);
    EXPECT_EQ(manager.AddMembers(G("沪市A股"), ids).status, BlockOpStatus::NotAllowed);
    BlockOpResult r = manager.AddMembers(G("自选股1"), ids);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.changed, 2);
    EXPECT_EQ(ReadBlockFile(paths.blockDir() + "自选股1.blk")->members.size(), 2u);
    r = manager.RemoveMembers(G("自选股1"), std::span(ids, 1));
    EXPECT_EQ(prompt.questions.back(), kBlockRemoveMembersQuestion);
    EXPECT_EQ(r.changed, 1);
    EXPECT_EQ(ReadBlockFile(paths.blockDir() + "自选股1.blk")->members.size(), 1u);

    // A failed save reports failure, keeps the change in memory and the old file whole.
    std::filesystem::remove(paths.blockDir() + "自选股2.blk");
    std::filesystem::create_directories(paths.blockDir() + "自选股2.blk");
    EXPECT_EQ(manager.AddMembers(G("自选股2"), ids).status, BlockOpStatus::SaveFailed);
    EXPECT_EQ(set.FindBlock(G("自选股2"))->members.size(), 2u);

    EXPECT_TRUE(manager.Delete(G("自选股1")).ok());
    EXPECT_EQ(prompt.questions.back(), kBlockDeleteQuestion);
    EXPECT_FALSE(FileExists(paths.blockDir() + "自选股1.blk"));
    EXPECT_FALSE(set.FindBlock(G("自选股1")));
}

TEST_F(BlockManagement, RenameWritesNewBeforeDeletingOld) {
    ASSERT_TRUE(manager.Create("old").ok());
    EXPECT_EQ(manager.Rename("old", G("自选股2")).message, "板块 自选股2 已存在,无法命名!");
    EXPECT_EQ(manager.Rename("old", "OLD").status, BlockOpStatus::Declined);
    EXPECT_EQ(manager.Rename("old", "a/b").message, kBlockBadName);

    // The new file cannot be written: the old file stays.
    std::filesystem::create_directories(paths.blockDir() + "new.blk");
    EXPECT_EQ(manager.Rename("old", "new").status, BlockOpStatus::SaveFailed);
    EXPECT_TRUE(ReadBlockFile(paths.blockDir() + "old.blk"));
    std::filesystem::remove(paths.blockDir() + "new.blk");

    // Nothing changed, in memory either: the next start agrees with it.
    EXPECT_FALSE(set.FindBlock("new"));
    EXPECT_TRUE(set.FindBlock("old"));
    BlockSet restarted(paths);
    restarted.LoadBlockFiles();
    EXPECT_TRUE(restarted.FindBlock("old"));
    EXPECT_FALSE(restarted.FindBlock("new"));

    ASSERT_TRUE(manager.Create("x").ok());
    EXPECT_TRUE(manager.Rename("x", "y").ok());
    EXPECT_FALSE(FileExists(paths.blockDir() + "x.blk"));
    EXPECT_EQ(ReadBlockFile(paths.blockDir() + "y.blk")->name, "y");
}

// Two writers of one directory (two programs: each has its own set, read at its
// start) change one block: neither change is lost.
TEST_F(BlockManagement, MemberChangesOfTwoWritersBothKept) {
    BlockSet other(paths);
    other.LoadBlockFiles();
    CountingPrompt otherPrompt;
    BlockManager otherManager(other, otherPrompt);
    const SecurityId a = MakeSecurityId(kMarketSH, "600000"), b = MakeSecurityId(kMarketSZ, "000001");
    ASSERT_TRUE(manager.AddMembers(G("自选股1"), std::span(&a, 1)).ok());
    ASSERT_TRUE(otherManager.AddMembers(G("自选股1"), std::span(&b, 1)).ok());
    auto file = ReadBlockFile(paths.blockDir() + "自选股1.blk");
    ASSERT_TRUE(file);
    ASSERT_EQ(file->members.size(), 2u);
    EXPECT_TRUE(SameSecurity(file->members[0], a));
    EXPECT_TRUE(SameSecurity(file->members[1], b));
    ASSERT_TRUE(manager.RemoveMembers(G("自选股1"), std::span(&a, 1)).ok());
    file = ReadBlockFile(paths.blockDir() + "自选股1.blk");
    ASSERT_EQ(file->members.size(), 1u);
    EXPECT_TRUE(SameSecurity(file->members[0], b));
}

// A save waits while another holder (another process, or a thread standing in
// for one) has the file's cross-process lock.
TEST(FileLockBlocks, SavesWaitForTheCrossProcessLock) {
    TempDir dir;
    AppPaths paths(dir.path());
    BlockSet set(paths);
    ASSERT_TRUE(set.CreateSelfSelectedBlocks());
    YesPrompt prompt;
    BlockManager manager(set, prompt);
    const std::string path = paths.blockDir() + "自选股1.blk";
    const SecurityId a = MakeSecurityId(kMarketSH, "600000");
    std::atomic<bool> done{false};
    std::thread writer;
    {
        ProcessFileLock held(path);
        ASSERT_TRUE(held.held());
        writer = std::thread([&] {
            EXPECT_TRUE(manager.AddMembers(G("自选股1"), std::span(&a, 1)).ok());
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(done.load());
        EXPECT_TRUE(ReadBlockFile(path)->members.empty());
    }
    writer.join();
    EXPECT_EQ(ReadBlockFile(path)->members.size(), 1u);
}

}  // namespace
}  // namespace tessaro
