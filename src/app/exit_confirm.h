// The exit confirmation as a pure decision: which question closing the main
// window asks, and what each answer does.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/settings_store.h"
#include "platform/store_time.h"

namespace tessaro {

enum class ExitQuestion {
    SaveDayData,  // Yes / No / Cancel
    Quit,         // Yes / No
};

inline constexpr std::string_view kSaveDayDataQuestion =
    "是否需要保存当天日线数据?\r\n\r\n"
    "  (选股或脱机使用软件等功能需要将日线数据保存到本地计算机，如不使用这些功能则可不必保存。)";
inline constexpr std::string_view kQuitQuestion = "真的要退出系统吗?";

// The day-data question is asked only after this time of day (15:05:00).
inline constexpr uint32_t kExitTipAfterSeconds = 54300;

struct ExitDecision {
    ExitQuestion question = ExitQuestion::Quit;
    std::string_view text = kQuitQuestion;
    // The trading date to record as "ExitTipTime" before asking, when set.
    std::optional<uint32_t> recordExitTipTime;
};

// now: the market's local time; connected: the quote connection is open;
// exitTipTime: the stored "ExitTipTime" (absent reads as 0); tradingDate: the
// market store's current trading date. The day-data question is asked after
// 15:05 while connected, once per trading day.
ExitDecision DecideExitQuestion(StoreTime now, bool connected, std::optional<uint32_t> exitTipTime,
                                StoreTime tradingDate);

enum class ExitAnswer { Yes, No, Cancel };
enum class ExitAction {
    SaveDayDataThenClose,  // run the after-hours download in its save-today mode, then close
    Close,
    KeepRunning,
};

ExitAction ExitActionFor(ExitQuestion question, ExitAnswer answer);

// The whole confirmation: decides, records "ExitTipTime" in the store when the
// day-data question is asked, asks through `ask` and returns what to do.
using ExitAskFn = std::function<ExitAnswer(ExitQuestion, std::string_view text)>;
ExitAction ConfirmExit(SettingsStore& store, StoreTime now, bool connected, StoreTime tradingDate,
                       const ExitAskFn& ask);

}  // namespace tessaro
