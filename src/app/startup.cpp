#include "app/startup.h"


namespace tessaro {

std::string_view StartupStageText(StartupStage stage) {
    switch (stage) {
        case StartupStage::Starting: return "程序正在启动...";
        case StartupStage::Formulas: return "加载公式平台...";
        case StartupStage::Settings: return "加载系统配置...";
        case StartupStage::Markets: return "加载行情数据...";
        case StartupStage::Blocks: return "加载板块数据...";
        case StartupStage::Alarms: return "加载预警平台...";
        case StartupStage::Done: return "加载完成!";
    }
    return {};
}

void StartupSequence::add(StartupStage stage, std::string name, Loader loader, bool required) {
    steps_.push_back(Step{stage, std::move(name), std::move(loader), required});
}

StartupSequence::Report StartupSequence::run() const {
    Report report;
    for (int s = 0; s < kStartupStageCount; ++s) {
        const auto stage = static_cast<StartupStage>(s);
        if (progress_) progress_(stage, StartupStageText(stage));
        report.shown.push_back(stage);
        for (const Step& step : steps_) {
            if (step.stage != stage) continue;
            bool ok = false;
            try {
                ok = step.loader && step.loader();
            } catch (...) {
                ok = false;
            }
            if (ok) continue;
            report.failed.push_back(step.name);
            if (step.required) {
                report.ok = false;
                return report;
            }
        }
    }
    return report;
}

}  // namespace tessaro
