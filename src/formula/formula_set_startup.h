// The formula set's part of the program start-up: the stage "加载公式平台..." loads the
// internal indicators and base/common.fml, base/download.fml and base/user.fml into the set.
// The application library knows nothing of formulas; the program registers this loader.
#pragma once

#include "app/paths.h"
#include "app/startup.h"
#include "formula/formula_set.h"
#include "platform/process_lock.h"

namespace tessaro {

// Runs the start-up load of `set` from the formula files under `paths`. A missing or damaged
// file is skipped, so the load always succeeds.
FormulaSet::StartupReport LoadFormulaSet(FormulaSet& set, const AppPaths& paths);

// Holds the formula files of `paths` against other processes that take the same lock, from a
// load to the save that follows it (an import: load, merge, save), so that no two such updates
// lose each other's formulas. Each file's own lock is still taken by the save.
ProcessFileLock LockFormulaSetFiles(const AppPaths& paths);

// Adds that load to the formula stage of `startup`; `set` must outlive the sequence's run.
void AddFormulaSetLoader(StartupSequence& startup, FormulaSet& set, AppPaths paths);

}  // namespace tessaro
