// The start-up sequence as logic: stages in a fixed order, each showing its
// text and running its loaders, each loader under the lock its data set uses.
// The splash window (or a log) watches the stage texts; later modules plug in
// the loaders of the formula set, the markets, the blocks and the alarms.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

enum class StartupStage {
    Starting = 0,  // "程序正在启动..."
    Formulas,      // "加载公式平台..."
    Settings,      // "加载系统配置..."
    Markets,       // "加载行情数据..."
    Blocks,        // "加载板块数据..."
    Alarms,        // "加载预警平台..."
    Done,          // "加载完成!"
};
inline constexpr int kStartupStageCount = 7;

// The stage text shown on the splash window (UTF-8).
std::string_view StartupStageText(StartupStage stage);

class StartupSequence {
public:
    // A loader reports success; a failed loader leaves its data empty and the
    // start-up goes on, unless it was added as required.
    using Loader = std::function<bool()>;
    // Called with each stage text before the stage runs (the splash repaints here).
    using ProgressFn = std::function<void(StartupStage, std::string_view text)>;

    void setProgress(ProgressFn progress) { progress_ = std::move(progress); }

    // Adds a loader to a stage; loaders of a stage run in the order added.
    void add(StartupStage stage, std::string name, Loader loader, bool required = false);

    // Adds a loader that runs while `lock` is held (any BasicLockable: the
    // formula-set, market, block or alarm lock). The lock must outlive run().
    template <class Lockable>
    void addLocked(StartupStage stage, std::string name, Lockable& lock, Loader loader, bool required = false) {
        add(stage, std::move(name),
            [&lock, loader = std::move(loader)] {
                std::lock_guard<Lockable> guard(lock);
                return loader();
            },
            required);
    }

    struct Report {
        bool ok = true;                    // false when a required loader failed
        std::vector<std::string> failed;   // names of the loaders that failed or threw
        std::vector<StartupStage> shown;   // the stages whose text was shown, in order
    };

    // Runs every stage in order. A loader that throws counts as failed. A
    // required loader that fails ends the sequence at once (no "加载完成!").
    Report run() const;

private:
    struct Step {
        StartupStage stage;
        std::string name;
        Loader loader;
        bool required;
    };
    ProgressFn progress_;
    std::vector<Step> steps_;
};

}  // namespace tessaro
