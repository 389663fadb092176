// The management rules of the formula manager, editor, period, signal and parameter dialogs,
// checked by the exact texts the user sees.
#include <gtest/gtest.h>

#include <deque>

#include "formula/formula_cipher.h"
#include "formula/formula_management.h"
#include "formula/formula_management_dialogs.h"
#include "formula/formula_management_editor.h"
#include "formula/formula_set_startup.h"
#include "platform/files.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

// Answers prompts from a script and records every text shown.
struct ScriptedPrompt : FormulaPrompt {
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<std::string> inputs;  // "title|prompt|masked"
    std::deque<Answer> answers;
    std::deque<std::optional<std::string>> typed;

    void Message(std::string_view text) override { messages.emplace_back(text); }
    Answer Ask(std::string_view text, bool withCancel) override {
        questions.emplace_back(text);
        if (answers.empty()) return withCancel ? Answer::Cancel : Answer::No;
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> Input(std::string_view title, std::string_view prompt, std::string_view,
                                     bool masked) override {
        inputs.push_back(std::string(title) + "|" + std::string(prompt) + "|" + (masked ? "masked" : "plain"));
        if (typed.empty()) return std::nullopt;
        std::optional<std::string> t = typed.front();
        typed.pop_front();
        return t;
    }
    std::string lastMessage() const { return messages.empty() ? "" : messages.back(); }
};

struct Recorder : FormulaObserver {
    std::vector<FormulaNotice> seen;
    void OnFormulaNotice(const FormulaNotice& n) override { seen.push_back(n); }
};

FormulaRecord Indicator(const char* name, const char* group = "", const char* text = "A:MA(C,5);") {
    FormulaRecord r;
    r.type = kFormulaSubPane;
    r.setName(name);
    r.group = Utf8ToGbk(group);
    r.source = text;
    r.comment = Utf8ToGbk("原注释");
    FormulaParam p;
    p.setName("N");
    p.min = 1;
    p.max = 100;
    p.defaultValue = 12;
    r.params.push_back(p);
    r.sourceOrigin = kSourceCommon;
    return r;
}

struct Fixture : ::testing::Test {
    TempDir dir;
    AppPaths paths{dir.path()};
    FormulaSet set;
    ScriptedPrompt prompt;
    Recorder recorder;
    void SetUp() override {
        LoadFormulaSet(set, paths);  // internal indicators; remembers the three files
        set.Put(Indicator("MACD", "趋势"));
        set.AddObserver(&recorder);
    }
};

using FormulaManagerTest = Fixture;

TEST_F(FormulaManagerTest, BuiltInFormulasRefuseDeletionAndEditing) {
    FormulaManager m(set, prompt);
    EXPECT_FALSE(m.Delete(kFormulaSubPane, "TENDV"));
    EXPECT_EQ(prompt.lastMessage(), "系统内置公式禁止删除!");
    EXPECT_TRUE(prompt.questions.empty());
    EXPECT_TRUE(set.Contains(kFormulaSubPane, "TENDV"));
    EXPECT_FALSE(m.OpenForEdit(kFormulaInternal, "K"));
    EXPECT_EQ(prompt.lastMessage(), "该公式禁止编辑!");
    EXPECT_FALSE(m.SaveAs(kFormulaSubPane, "#CMFB"));
    EXPECT_EQ(prompt.lastMessage(), "该公式禁止编辑!");
    EXPECT_TRUE(recorder.seen.empty());
}

TEST_F(FormulaManagerTest, DeleteAsksAndNotifiesAndMarksTheSourceDirty) {
    FormulaManager m(set, prompt);
    prompt.answers = {FormulaPrompt::Answer::No, FormulaPrompt::Answer::Yes};
    EXPECT_FALSE(m.Delete(kFormulaSubPane, "macd"));
    EXPECT_EQ(prompt.questions.back(), "真的要删除公式 macd 吗?");
    EXPECT_TRUE(set.Contains(kFormulaSubPane, "MACD"));
    EXPECT_TRUE(m.Delete(kFormulaSubPane, "MACD"));
    EXPECT_FALSE(set.Contains(kFormulaSubPane, "MACD"));
    EXPECT_TRUE(set.IsDirty(kSourceCommon));
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0].code, kNoticeFormulaDeleted);
    EXPECT_EQ(recorder.seen[0].name, "MACD");
}

TEST_F(FormulaManagerTest, SaveAsKeepsTheFormulaTextLockAndEverythingElse) {
    FormulaRecord locked = Indicator("LOCKED", "", "X:C;");
    SetFormulaPassword(locked, "SECRET:C*2;", "pw");
    locked.sourceOrigin = kSourceDownload;
    set.Put(locked);
    FormulaManager m(set, prompt);
    prompt.typed = {std::string("MACD2"), std::string("  "), std::string("MACD"), std::string("COPY")};
    auto copied = m.SaveAs(kFormulaSubPane, "MACD");
    ASSERT_TRUE(copied);
    EXPECT_EQ(prompt.inputs[0], "另存公式|将公式 MACD 另存为|plain");
    auto copy = set.Find(kFormulaSubPane, "MACD2");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->source, "A:MA(C,5);");
    EXPECT_EQ(copy->params.size(), 1u);
    EXPECT_EQ(GbkToUtf8(copy->comment), "原注释");
    EXPECT_EQ(GbkToUtf8(copy->group), "趋势");
    EXPECT_EQ(copy->sourceOrigin, kSourceUser);
    EXPECT_EQ(set.Find(kFormulaSubPane, "MACD")->sourceOrigin, kSourceCommon);
    EXPECT_FALSE(m.SaveAs(kFormulaSubPane, "MACD"));
    EXPECT_EQ(prompt.lastMessage(), "请输入公式名称!");
    EXPECT_FALSE(m.SaveAs(kFormulaSubPane, "MACD"));
    EXPECT_EQ(prompt.lastMessage(), "公式已存在,不能新增!");
    // A locked formula's copy is locked by the same password.
    ASSERT_TRUE(m.SaveAs(kFormulaSubPane, "LOCKED"));
    auto lockedCopy = set.Find(kFormulaSubPane, "COPY");
    ASSERT_TRUE(lockedCopy);
    EXPECT_EQ(OpenFormulaText(*lockedCopy, "pw"), std::optional<std::string>("SECRET:C*2;"));
    EXPECT_TRUE(set.IsDirty(kSourceUser));
    EXPECT_EQ(recorder.seen.back().code, kNoticeFormulaAdded);
}

TEST_F(FormulaManagerTest, NewFormulaDefaultsAndNamesakes) {
    FormulaManager m(set, prompt);
    EXPECT_FALSE(m.NewFormula(kFormulaInternal, "", 0));
    auto r = m.NewFormula(kFormulaSelection, Utf8ToGbk("其它"), 0x00FF00);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->defaultPeriod, 8u);
    EXPECT_EQ(r->signalIcon, 6u);
    EXPECT_EQ(r->signalPosition, 3u);
    EXPECT_EQ(r->signalColour, 0x00FF00u);
    EXPECT_EQ(r->sourceOrigin, kSourceUser);
    EXPECT_TRUE(r->group.empty());
    FormulaRecord named = Indicator("macd");
    EXPECT_FALSE(m.AddNewFormula(named));
    EXPECT_EQ(prompt.lastMessage(), "公式已存在,不能新增!");
    named.type = kFormulaSelection;  // another type class: no namesake
    EXPECT_TRUE(m.AddNewFormula(named));
    EXPECT_EQ(set.Find(kFormulaSelection, "MACD")->sourceOrigin, kSourceUser);
}

TEST_F(FormulaManagerTest, GroupRulesAndMessages) {
    FormulaManager m(set, prompt);
    // New group: prompt text names the tab; "其它" and existing names are refused.
    prompt.typed = {std::string("其它"), std::string("趋势"), std::string("新组")};
    EXPECT_FALSE(m.NewGroup(kFormulaMainOverlay));
    EXPECT_EQ(prompt.inputs[0], "新建公式组|在'技术指标'下建立新公式组|plain");
    EXPECT_EQ(prompt.lastMessage(), "同名公式组已存在,不能加入!");
    EXPECT_FALSE(m.NewGroup(kFormulaSubPane));
    EXPECT_EQ(prompt.lastMessage(), "同名公式组已存在,不能加入!");
    EXPECT_TRUE(m.NewGroup(kFormulaSubPane));
    EXPECT_EQ(recorder.seen.back().code, kNoticeGroupAdded);

    // Rename: the default group cannot be renamed; "其它" or an existing name is refused.
    EXPECT_FALSE(m.RenameGroup(kFormulaSubPane, ""));
    EXPECT_EQ(prompt.lastMessage(), "'其它'组为默认组,不能被重命名!");
    EXPECT_FALSE(m.RenameGroup(kFormulaSubPane, Utf8ToGbk("其它")));
    EXPECT_EQ(prompt.lastMessage(), "'其它'组为默认组,不能被重命名!");
    prompt.typed = {std::string("其它"), std::string("新组"), std::string("趋势指标")};
    EXPECT_FALSE(m.RenameGroup(kFormulaSubPane, Utf8ToGbk("趋势")));
    EXPECT_EQ(prompt.inputs.back(), "修改公式组名|将 '趋势' 修改成|plain");
    EXPECT_EQ(prompt.lastMessage(), "同名公式组已存在!");
    EXPECT_FALSE(m.RenameGroup(kFormulaSubPane, Utf8ToGbk("趋势")));
    EXPECT_EQ(prompt.lastMessage(), "同名公式组已存在!");
    EXPECT_TRUE(m.RenameGroup(kFormulaSubPane, Utf8ToGbk("趋势")));
    EXPECT_EQ(GbkToUtf8(set.Find(kFormulaSubPane, "MACD")->group), "趋势指标");
    EXPECT_EQ(recorder.seen.back().code, kNoticeGroupRenamed);
    EXPECT_EQ(GbkToUtf8(recorder.seen.back().newName), "趋势指标");
    EXPECT_TRUE(set.IsDirty(kSourceCommon));

    // Delete: the default group is kept; the formulas move to "其它".
    EXPECT_FALSE(m.DeleteGroup(kFormulaSubPane, ""));
    EXPECT_EQ(prompt.lastMessage(), "'其它'组为默认组,不能被删除!");
    prompt.answers = {FormulaPrompt::Answer::Yes};
    EXPECT_TRUE(m.DeleteGroup(kFormulaSubPane, Utf8ToGbk("趋势指标")));
    EXPECT_EQ(prompt.questions.back(), "真的要删除公式组 趋势指标 吗(删除后该组下的所有公式将移至'其它'组中)?");
    EXPECT_TRUE(set.Find(kFormulaSubPane, "MACD")->group.empty());
    EXPECT_FALSE(set.HasGroup(kFormulaSubPane, Utf8ToGbk("趋势指标")));
    EXPECT_EQ(recorder.seen.back().code, kNoticeGroupDeleted);
}

TEST_F(FormulaManagerTest, LockedFormulaKeepsAskingUntilTheRightPasswordOrCancel) {
    FormulaRecord locked = Indicator("LOCKED");
    SetFormulaPassword(locked, "A:C;", "right");
    set.Put(locked);
    FormulaManager m(set, prompt);
    prompt.typed = {std::string("wrong"), std::string(""), std::string("right")};
    std::string password;
    auto text = m.OpenForEdit(kFormulaSubPane, "LOCKED", &password);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "A:C;");
    EXPECT_EQ(password, "right");
    EXPECT_EQ(prompt.inputs.size(), 3u);
    EXPECT_EQ(prompt.inputs[0], "输入密码|公式已加密，请输入密码|masked");
    prompt.typed = {std::string("wrong")};
    EXPECT_FALSE(m.OpenForEdit(kFormulaSubPane, "LOCKED"));  // then cancelled
    EXPECT_FALSE(m.TextForViewing(kFormulaSubPane, "LOCKED"));
    EXPECT_EQ(prompt.lastMessage(), "公式被加密,无法查看!");
    EXPECT_EQ(m.TextForViewing(kFormulaSubPane, "MACD"), std::optional<std::string>("A:MA(C,5);"));
}

TEST_F(FormulaManagerTest, ImportAsksForNamesakesAndExportLeavesBuiltInsOut) {
    std::string file = dir.path() + "/in.fml";
    std::vector<FormulaRecord> incoming = {Indicator("MACD", "", "NEW:C;"), Indicator("KDJ"), Indicator("RSI"),
                                           Indicator("TENDV")};
    ASSERT_TRUE(WriteFmlFile(file, incoming));
    FormulaManager m(set, prompt);
    prompt.answers = {FormulaPrompt::Answer::Yes};
    int n = m.Import(file, [](const std::vector<FormulaRecord>& all) {
        EXPECT_EQ(all.size(), 4u);
        return std::vector<size_t>{0, 1, 3, 9};
    });
    EXPECT_EQ(n, 2);
    EXPECT_EQ(prompt.questions[0], "存在同名公式:MACD ,是否覆盖?");
    EXPECT_EQ(prompt.lastMessage(), "共导入2个公式!");
    auto macd = set.Find(kFormulaSubPane, "MACD");
    EXPECT_EQ(macd->source, "NEW:C;");
    EXPECT_EQ(macd->sourceOrigin, kSourceCommon) << "an overwritten formula keeps its source";
    EXPECT_EQ(set.Find(kFormulaSubPane, "KDJ")->sourceOrigin, kSourceUser);
    EXPECT_FALSE(set.Find(kFormulaSubPane, "TENDV")->outputs.empty()) << "built-ins are never replaced";
    // The import flushed: both changed sources are on disk.
    EXPECT_EQ(ParseFmlImage(*ReadWholeFile(paths.formulaFile(kSourceUser))).records.size(), 1u);
    EXPECT_EQ(ParseFmlImage(*ReadWholeFile(paths.formulaFile(kSourceCommon))).records.size(), 1u);

    // No stops at that formula, Cancel stops the import.
    prompt.answers = {FormulaPrompt::Answer::No, FormulaPrompt::Answer::Cancel};
    EXPECT_EQ(m.Import(file, [](auto&) { return std::vector<size_t>{0, 1, 2}; }), 0);
    EXPECT_FALSE(set.Contains(kFormulaSubPane, "RSI"));
    EXPECT_EQ(prompt.lastMessage(), "共导入0个公式!");

    std::string out = dir.path() + "/out.fml";
    int exported = m.Export({{kFormulaSubPane, "MACD"}, {kFormulaSubPane, "TENDV"}, {kFormulaSubPane, "kdj"},
                             {kFormulaSubPane, "KDJ"}, {kFormulaSubPane, "NONE"}},
                            out);
    EXPECT_EQ(exported, 2);
    EXPECT_EQ(prompt.lastMessage(), "共导出2个公式!");
    EXPECT_EQ(ParseFmlImage(*ReadWholeFile(out)).records.size(), 2u);
    EXPECT_EQ(m.Export({{kFormulaSubPane, "MACD"}}, dir.path() + "/in.fml/x.fml"), -1);
    EXPECT_EQ(prompt.lastMessage(), "保存公式文件失败!");
    // A file that is no formula file.
    EXPECT_EQ(m.Import(dir.path() + "/missing.fml", nullptr), 0);
    EXPECT_EQ(prompt.lastMessage(), "不是有效的公式文件!");
}

TEST_F(FormulaManagerTest, CommentChangeIsStoredAndAnnounced) {
    FormulaManager m(set, prompt);
    EXPECT_TRUE(m.SetComment(kFormulaSubPane, "MACD", Utf8ToGbk("新注释")));
    EXPECT_EQ(GbkToUtf8(set.Find(kFormulaSubPane, "MACD")->comment), "新注释");
    EXPECT_EQ(recorder.seen.back().code, kNoticeFormulaChanged);
    EXPECT_TRUE(set.IsDirty(kSourceCommon));
    EXPECT_FALSE(m.SetComment(kFormulaSubPane, "NONE", "x"));
}

TEST(FormulaEditorChecks, ParameterGridMessagesNameTheRow) {
    auto check = [](std::vector<ParamRow> rows) { return CheckParamRows(rows).error; };
    EXPECT_EQ(check({{"N", "5", "1", "100"}, {"SIXTEENCHARSXXXX", "1", "", ""}}), "第2个参数名太长(最多15个字符)!");
    EXPECT_EQ(check({{"MA", "5", "", ""}}), "第1个参数名不能是保留字!");
    EXPECT_EQ(check({{"COLORRED", "5", "", ""}}), "第1个参数名不能是保留字!");
    EXPECT_EQ(check({{"and", "5", "", ""}}), "第1个参数名不能是保留字!");
    EXPECT_EQ(check({{"N", "5", "", ""}, {"", "", "", ""}, {"n", "6", "", ""}}), "第3个参数名被重复定义!");
    EXPECT_EQ(check({{"N", " ", "", ""}}), "请输入第1个参数值!");
    EXPECT_EQ(check({{"N", "5x", "", ""}}), "第1个参数值存在非数字字符!");
    EXPECT_EQ(check({{"N", "0x10", "", ""}}), "第1个参数值存在非数字字符!");
    EXPECT_EQ(check({{"N", "inf", "", ""}}), "第1个参数值存在非数字字符!");
    EXPECT_EQ(check({{"N", "5", "a", ""}}), "第1个最小值存在非数字字符!");
    EXPECT_EQ(check({{"N", "5", "1", "1e99"}}), "第1个最大值存在非数字字符!");
    EXPECT_EQ(check({{"N", "5", "6", "100"}}), "第1个参数值超出最小、大值范围!");
    EXPECT_EQ(check({{"N", "500", "1", "100"}}), "第1个参数值超出最小、大值范围!");
    ParamCheck good = CheckParamRows({{"", "9", "", ""}, {" SHORT ", "+12", "", "200"}, {"LONG", "-0.5", "-1", ""}});
    ASSERT_TRUE(good.error.empty());
    ASSERT_EQ(good.params.size(), 2u);
    EXPECT_EQ(good.params[0].nameText(), "SHORT");
    EXPECT_EQ(good.params[0].min, 12.0f) << "an empty minimum takes the default";
    EXPECT_EQ(good.params[0].max, 200.0f);
    EXPECT_EQ(good.params[1].max, -0.5f);
    EXPECT_EQ(good.params[1].step, 1.0f);
}

TEST(FormulaEditorChecks, CoordinateLines) {
    auto lines = ParseCoordinateLines("20; 50;80;");
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->count, 3u);
    EXPECT_EQ(lines->values[1], 50.0f);
    auto many = ParseCoordinateLines("1;2;3;4;5;6;7;8;9");
    ASSERT_TRUE(many);
    EXPECT_EQ(many->count, 7u);
    EXPECT_EQ(many->values[6], 7.0f);
    EXPECT_EQ(ParseCoordinateLines("")->count, 0u);
    EXPECT_FALSE(ParseCoordinateLines("20;abc"));
    EXPECT_FALSE(ParseCoordinateLines("20,80"));
    EXPECT_EQ(FormulaEditorTitle(kFormulaSelection), "条件选股公式编辑器(按F7测试公式)");
    EXPECT_EQ(FormulaEditorTitle(kFormulaMainOverlay), "技术指标公式编辑器(按F7测试公式)");
}

using FormulaEditorTest = Fixture;

TEST_F(FormulaEditorTest, CompileReportsTheCompilerMessageOrSuccess) {
    FormulaEditorModel e(set, prompt);
    ASSERT_TRUE(e.OpenNew(kFormulaSubPane, ""));
    EXPECT_FALSE(e.OpenNew(kFormulaInternal, ""));
    ASSERT_TRUE(e.OpenNew(kFormulaSubPane, ""));
    e.text = "A:C; 中文+1;";
    EXPECT_FALSE(e.Compile());
    EXPECT_EQ(e.status(), "错误16:表达式中引用了未定义的变量,错误位置＝5,长度=4");
    EXPECT_EQ(e.errorPosition(), 5);
    e.text = "A:MA(C,N);";
    e.paramRows[0] = {"N", "5", "1", "100"};
    e.coordinates = "20;x";
    EXPECT_FALSE(e.Compile());
    EXPECT_EQ(prompt.lastMessage(), "坐标含有非法字符!");
    e.coordinates = "20;80";
    EXPECT_TRUE(e.Compile());
    EXPECT_EQ(e.status(), "编译成功!");
    EXPECT_EQ(e.record().coordinateCount, 2u);
    EXPECT_FALSE(e.record().instructions.empty());
    EXPECT_NE(e.record().compileTime, 0u);
}

TEST_F(FormulaEditorTest, OkChecksNamePasswordAndNamesakeThenSavesAtOnce) {
    FormulaEditorModel e(set, prompt);
    ASSERT_TRUE(e.OpenNew(kFormulaSubPane, Utf8ToGbk("趋势")));
    e.text = "A:C;";
    EXPECT_FALSE(e.Ok());
    EXPECT_EQ(prompt.lastMessage(), "请输入公式名称!");
    e.name = "macd";
    EXPECT_FALSE(e.Ok());
    EXPECT_EQ(prompt.lastMessage(), "同名公式已存在,不能加入!");
    e.name = "MINE";
    e.password = "pw";
    prompt.typed = {std::string("pX")};
    EXPECT_FALSE(e.Ok());
    EXPECT_EQ(prompt.inputs.back(), "重复输入密码|请再输入一遍密码|masked");
    EXPECT_EQ(prompt.lastMessage(), "重复输入密码时错误!");
    prompt.typed = {std::string("pw")};
    e.overlay = true;
    ASSERT_TRUE(e.Ok());
    auto mine = set.Find(kFormulaSubPane, "MINE");
    ASSERT_TRUE(mine);
    EXPECT_EQ(mine->type, kFormulaMainOverlay);
    EXPECT_EQ(GbkToUtf8(mine->group), "趋势");
    EXPECT_EQ(OpenFormulaText(*mine, "pw"), std::optional<std::string>("A:C;"));
    EXPECT_EQ(recorder.seen.back().code, kNoticeFormulaAdded);
    // Saved at once to user.fml, locked.
    FmlParseResult user = ParseFmlImage(*ReadWholeFile(paths.formulaFile(kSourceUser)));
    ASSERT_EQ(user.records.size(), 1u);
    EXPECT_TRUE(user.records[0].isLocked());
    EXPECT_EQ(user.records[0].source.find("A:C;"), std::string::npos);

    // Reopening asks for the password; OK with the same password does not ask again.
    FormulaEditorModel again(set, prompt);
    prompt.typed = {std::string("pw")};
    ASSERT_TRUE(again.OpenExisting(kFormulaSubPane, "mine"));
    EXPECT_EQ(again.text, "A:C;");
    EXPECT_TRUE(again.overlay);
    size_t inputsBefore = prompt.inputs.size();
    again.text = "A:C*2;";
    again.password = "";
    ASSERT_TRUE(again.Ok());
    EXPECT_EQ(prompt.inputs.size(), inputsBefore);
    EXPECT_EQ(set.Find(kFormulaSubPane, "MINE")->source, "A:C*2;");
    EXPECT_EQ(recorder.seen.back().code, kNoticeFormulaChanged);
}

TEST_F(FormulaEditorTest, RenamingAnExistingFormulaReplacesItUnderTheNewName) {
    FormulaEditorModel e(set, prompt);
    ASSERT_TRUE(e.OpenExisting(kFormulaSubPane, "MACD"));
    EXPECT_EQ(e.paramRows[0].name, "N");
    EXPECT_EQ(e.paramRows[0].defaultValue, "12");
    e.name = "TENDV";
    EXPECT_FALSE(e.Ok());
    EXPECT_EQ(prompt.lastMessage(), "同名公式已存在,不能加入!");
    e.name = "MACD1";
    ASSERT_TRUE(e.Ok());
    EXPECT_FALSE(set.Contains(kFormulaSubPane, "MACD"));
    auto renamed = set.Find(kFormulaSubPane, "MACD1");
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->sourceOrigin, kSourceCommon) << "an edited formula stays in its file";
    EXPECT_EQ(recorder.seen[recorder.seen.size() - 2].code, kNoticeFormulaDeleted);
    // Only the case changed: the formula is its own namesake, not another's.
    FormulaEditorModel f(set, prompt);
    ASSERT_TRUE(f.OpenExisting(kFormulaSubPane, "MACD1"));
    f.name = "macd1";
    EXPECT_TRUE(f.Ok());
    EXPECT_EQ(set.Find(kFormulaSubPane, "MACD1")->nameText(), "macd1");
}

TEST_F(FormulaEditorTest, CombinedConditionsAndUnknownFormulasAreNotOpenedHere) {
    FormulaRecord combo;
    combo.type = kFormulaCombined;
    combo.setName("COMBO");
    combo.lockChecksum = 5;  // locked: the text editor must not even ask for a password
    set.Put(combo);
    FormulaEditorModel e(set, prompt);
    EXPECT_FALSE(e.OpenExisting(kFormulaCombined, "COMBO"));
    EXPECT_FALSE(e.OpenExisting(kFormulaSubPane, "NONE"));
    EXPECT_TRUE(prompt.inputs.empty());
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(FormulaEditorTest, AFailedSaveOnOkIsShown) {
    ASSERT_TRUE(CreateDirectories(paths.baseDir()));
    ASSERT_TRUE(WriteFileAtomic(paths.baseDir() + "user.fml", std::string_view("\x01RO" "F", 4)));
    ASSERT_TRUE(WriteFileAtomic(paths.baseDir() + "backup", std::string_view("x")));
    FormulaEditorModel e(set, prompt);
    ASSERT_TRUE(e.OpenNew(kFormulaSubPane, ""));
    e.name = "NEW";
    e.text = "A:C;";
    EXPECT_TRUE(e.Ok()) << e.status() << " " << prompt.lastMessage();
    EXPECT_EQ(prompt.lastMessage().rfind("公式文件保存失败: ", 0), 0u) << prompt.lastMessage();
    EXPECT_TRUE(set.IsDirty(kSourceUser));
}

TEST(FormulaPeriodSettings, BitsDefaultPeriodAndCaptions) {
    FormulaRecord r;
    r.usageFlags = 0x00000100;  // a foreign bit survives
    PeriodSettings s = PeriodSettings::Of(r);
    EXPECT_EQ(s.defaultPeriod, 8);
    s.disabled[14 - 2] = true;  // 分时线: bit 18
    s.disabled[2 - 2] = true;   // 分笔: bit 30
    s.noIndexes = true;
    s.defaultPeriod = 9;
    s.applyTo(r);
    EXPECT_EQ(r.usageFlags, 0x00000100u | 0x40000000u | 0x00040000u | 1u);
    EXPECT_EQ(r.defaultPeriod, 9u);
    EXPECT_EQ(s.selectablePeriods().size(), 11u);
    s.defaultPeriod = 14;  // a disabled period cannot be the default
    s.applyTo(r);
    EXPECT_EQ(r.defaultPeriod, 0u);
    s.noIndexes = false;
    s.noStocks = true;
    s.applyTo(r);
    EXPECT_EQ(r.usageFlags & 3u, 2u);
    EXPECT_EQ(PeriodSettings::Of(r).disabled[12], true);
    EXPECT_EQ(FormulaPeriodCaption(2), "分笔");
    EXPECT_EQ(FormulaPeriodCaption(14), "分时线");
    EXPECT_EQ(FormulaPeriodCaption(15), "");
    FormulaRecord signal;
    EXPECT_FALSE(SetSelectionSignal(signal, 7, 1, 1));
    EXPECT_EQ(signal.signalIcon, 6u);
    EXPECT_TRUE(SetSelectionSignal(signal, 0, 0xFF, 2));
    EXPECT_EQ(signal.signalPosition, 2u);
}

using ParameterDialogTest = Fixture;

TEST_F(ParameterDialogTest, ChangesAreSentClampedAndDefaultsSavedOnYes) {
    std::vector<std::pair<int, float>> sent;
    ParameterDialogModel d(set, prompt, kFormulaSubPane, "MACD", [&](int i, float v) { sent.emplace_back(i, v); });
    ASSERT_TRUE(d.valid());
    EXPECT_EQ(d.commentText(), "注释:\r\n原注释");
    EXPECT_TRUE(d.Change(0, 500));
    EXPECT_EQ(d.params()[0].defaultValue, 100.0f);
    EXPECT_TRUE(d.Spin(0, false));
    EXPECT_FALSE(d.Change(3, 1));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], std::make_pair(0, 99.0f));
    d.RestoreDefaults();
    EXPECT_EQ(d.params()[0].defaultValue, 12.0f);
    EXPECT_EQ(sent.back(), std::make_pair(0, 12.0f));
    d.Change(0, 30);
    prompt.answers = {FormulaPrompt::Answer::No, FormulaPrompt::Answer::Yes};
    EXPECT_FALSE(d.SetAsDefault());
    EXPECT_EQ(prompt.questions.back(), "真的要将这些值设为公式的默认参数值吗?");
    EXPECT_EQ(set.Find(kFormulaSubPane, "MACD")->params[0].defaultValue, 12.0f);
    EXPECT_TRUE(d.SetAsDefault());
    EXPECT_EQ(set.Find(kFormulaSubPane, "MACD")->params[0].defaultValue, 30.0f);
    // Saved at once into the formula's own file.
    FmlParseResult common = ParseFmlImage(*ReadWholeFile(paths.formulaFile(kSourceCommon)));
    ASSERT_EQ(common.records.size(), 1u);
    EXPECT_EQ(common.records[0].params[0].defaultValue, 30.0f);
    EXPECT_FALSE(ParameterDialogModel(set, prompt, kFormulaSubPane, "NONE", nullptr).valid());
}

}  // namespace
}  // namespace tessaro
