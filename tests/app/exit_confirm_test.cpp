// The exit confirmation: which question, when, and what each answer does.
#include "app/exit_confirm.h"

#include <gtest/gtest.h>

#include "app/settings.h"

namespace tessaro {
namespace {

const StoreTime kDate = MakeStoreTime(2024, 3, 15);        // the store's trading date
const StoreTime kAfter = MakeStoreTime(2024, 3, 15, 15, 5, 1);
const StoreTime kAtLimit = MakeStoreTime(2024, 3, 15, 15, 5, 0);

TEST(ExitQuestion, DayDataOnlyAfter1505WhileConnected) {
    EXPECT_EQ(DecideExitQuestion(kAfter, true, std::nullopt, kDate).question, ExitQuestion::SaveDayData);
    EXPECT_EQ(DecideExitQuestion(kAtLimit, true, std::nullopt, kDate).question, ExitQuestion::Quit);
    EXPECT_EQ(DecideExitQuestion(MakeStoreTime(2024, 3, 15, 10, 0, 0), true, std::nullopt, kDate).question,
              ExitQuestion::Quit);
    EXPECT_EQ(DecideExitQuestion(kAfter, false, std::nullopt, kDate).question, ExitQuestion::Quit);
    EXPECT_EQ(DecideExitQuestion(MakeStoreTime(2024, 3, 15, 23, 59, 59), true, std::nullopt, kDate).question,
              ExitQuestion::SaveDayData);
}

TEST(ExitQuestion, TextsAndTheDateToRecord) {
    ExitDecision d = DecideExitQuestion(kAfter, true, 0u, kDate);
    EXPECT_EQ(d.text,
              "是否需要保存当天日线数据?\r\n\r\n  (选股或脱机使用软件等功能需要将日线数据保存到本地计算机，"
              "如不使用这些功能则可不必保存。)");
    EXPECT_EQ(d.recordExitTipTime, kDate);
    ExitDecision q = DecideExitQuestion(kAtLimit, true, 0u, kDate);
    EXPECT_EQ(q.text, "真的要退出系统吗?");
    EXPECT_FALSE(q.recordExitTipTime.has_value());
}

TEST(ExitQuestion, AskedOncePerTradingDayComparedByDay) {
    // A stored time on the same day, even at another hour, counts as asked.
    EXPECT_EQ(DecideExitQuestion(kAfter, true, kDate + 3600, kDate).question, ExitQuestion::Quit);
    EXPECT_EQ(DecideExitQuestion(kAfter, true, kDate - 1, kDate).question, ExitQuestion::SaveDayData);
    // A new trading date asks again, even if the clock says the same day.
    EXPECT_EQ(DecideExitQuestion(kAfter, true, kDate, kDate + 86400).question, ExitQuestion::SaveDayData);
}

TEST(ExitAction, AnswersToEachQuestion) {
    EXPECT_EQ(ExitActionFor(ExitQuestion::SaveDayData, ExitAnswer::Yes), ExitAction::SaveDayDataThenClose);
    EXPECT_EQ(ExitActionFor(ExitQuestion::SaveDayData, ExitAnswer::No), ExitAction::Close);
    EXPECT_EQ(ExitActionFor(ExitQuestion::SaveDayData, ExitAnswer::Cancel), ExitAction::KeepRunning);
    EXPECT_EQ(ExitActionFor(ExitQuestion::Quit, ExitAnswer::Yes), ExitAction::Close);
    EXPECT_EQ(ExitActionFor(ExitQuestion::Quit, ExitAnswer::No), ExitAction::KeepRunning);
    EXPECT_EQ(ExitActionFor(ExitQuestion::Quit, ExitAnswer::Cancel), ExitAction::KeepRunning);
}

TEST(ConfirmExit, SecondCloseOnTheSameDayOnlyAsksToQuit) {
    SettingsStore store;
    std::vector<ExitQuestion> asked;
    auto cancel = [&](ExitQuestion q, std::string_view) {
        asked.push_back(q);
        return ExitAnswer::Cancel;
    };
    EXPECT_EQ(ConfirmExit(store, kAfter, true, kDate, cancel), ExitAction::KeepRunning);
    EXPECT_EQ(store.getDword(SettingsKey("Settings"), "ExitTipTime"), kDate);
    EXPECT_EQ(ConfirmExit(store, kAfter + 60, true, kDate, cancel), ExitAction::KeepRunning);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], ExitQuestion::SaveDayData);
    EXPECT_EQ(asked[1], ExitQuestion::Quit);

    auto yes = [](ExitQuestion, std::string_view) { return ExitAnswer::Yes; };
    EXPECT_EQ(ConfirmExit(store, kAfter + 86400, true, kDate + 86400, yes), ExitAction::SaveDayDataThenClose);
    EXPECT_EQ(ConfirmExit(store, kAfter + 86400, true, kDate + 86400, yes), ExitAction::Close);
}

TEST(ConfirmExit, BeforeTheCloseNothingIsRecorded) {
    SettingsStore store;
    auto yes = [](ExitQuestion, std::string_view) { return ExitAnswer::Yes; };
    EXPECT_EQ(ConfirmExit(store, kAtLimit, true, kDate, yes), ExitAction::Close);
    EXPECT_EQ(ConfirmExit(store, kAfter, false, kDate, yes), ExitAction::Close);
    EXPECT_FALSE(store.get(SettingsKey("Settings"), "ExitTipTime").has_value());
    // Without a way to ask, the program keeps running.
    EXPECT_EQ(ConfirmExit(store, kAtLimit, true, kDate, nullptr), ExitAction::KeepRunning);
}

}  // namespace
}  // namespace tessaro
