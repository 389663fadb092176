#include "app/exit_confirm.h"

#include "app/settings.h"

namespace tessaro {

ExitDecision DecideExitQuestion(StoreTime now, bool connected, std::optional<uint32_t> exitTipTime,
                                StoreTime tradingDate) {
    ExitDecision d;
    if (TimeOfDay(now) > kExitTipAfterSeconds && connected &&
        StoreDay(exitTipTime.value_or(0)) != StoreDay(tradingDate)) {
        d.question = ExitQuestion::SaveDayData;
        d.text = kSaveDayDataQuestion;
        d.recordExitTipTime = tradingDate;
    }
    return d;
}

ExitAction ExitActionFor(ExitQuestion question, ExitAnswer answer) {
    if (question == ExitQuestion::SaveDayData) {
        switch (answer) {
            case ExitAnswer::Yes: return ExitAction::SaveDayDataThenClose;
            case ExitAnswer::No: return ExitAction::Close;
            case ExitAnswer::Cancel: return ExitAction::KeepRunning;
        }
    }
    return answer == ExitAnswer::Yes ? ExitAction::Close : ExitAction::KeepRunning;
}

ExitAction ConfirmExit(SettingsStore& store, StoreTime now, bool connected, StoreTime tradingDate,
                       const ExitAskFn& ask) {
    auto stored = store.getDword(SettingsKey(kSettingsSubKey), "ExitTipTime");
    ExitDecision d = DecideExitQuestion(now, connected, stored, tradingDate);
    // Recorded before asking, so that a second close that day only asks to quit.
    if (d.recordExitTipTime) SaveExitTipTime(store, *d.recordExitTipTime);
    ExitAnswer answer = ask ? ask(d.question, d.text) : ExitAnswer::Cancel;
    return ExitActionFor(d.question, answer);
}

}  // namespace tessaro
