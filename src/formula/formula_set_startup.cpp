#include "formula/formula_set_startup.h"

#include "platform/files.h"

namespace tessaro {

FormulaSet::StartupReport LoadFormulaSet(FormulaSet& set, const AppPaths& paths) {
    const std::string files[3] = {paths.formulaFile(kSourceUser), paths.formulaFile(kSourceCommon),
                                  paths.formulaFile(kSourceDownload)};
    // The program carries no built-in formula image.
    return set.LoadAtStartup(files);
}

void AddFormulaSetLoader(StartupSequence& startup, FormulaSet& set, AppPaths paths) {
    // The set takes its own lock for the whole load.
    startup.add(StartupStage::Formulas, "formula set", [&set, paths = std::move(paths)] {
        LoadFormulaSet(set, paths);
        return true;
    });
}

ProcessFileLock LockFormulaSetFiles(const AppPaths& paths) {
    std::string base = WithTrailingSlash(paths.baseDir());
    CreateDirectories(base);
    RemoveStaleTemporaryFiles(base);
    return ProcessFileLock(base + "formula set", ProcessFileLock::Scope::Group);
}

}  // namespace tessaro
