#include "app/paths.h"

#include "platform/files.h"

namespace tessaro {

AppPaths::AppPaths(std::string appDir) : appDir_(WithTrailingSlash(std::move(appDir))) {}

std::string AppPaths::marketDir(MarketCode market) const {
    std::string_view dir = MarketDirName(market);
    if (dir.empty()) return {};
    return appDir_ + "data/" + std::string(dir) + "/";
}

std::string AppPaths::marketFile(MarketCode market) const {
    std::string dir = marketDir(market);
    return dir.empty() ? dir : dir + "stkinfo.dat";
}

std::string AppPaths::periodDir(MarketCode market, Period period) const {
    std::string dir = marketDir(market);
    std::string_view per = PeriodDirName(period);
    if (dir.empty() || per.empty()) return {};
    return dir + std::string(per) + "/";
}

namespace {
// A code that would leave its directory ("..", "a/b") or is empty names no file.
bool UsableCode(std::string_view code) {
    if (code.empty() || code == "." || code == "..") return false;
    for (char c : code)
        if (c == '/' || c == '\\') return false;
    return true;
}
}  // namespace

std::string AppPaths::historyFile(const SecurityId& id, Period period) const {
    std::string dir = periodDir(id.market, period);
    if (dir.empty() || !UsableCode(id.codeText())) return {};
    return dir + std::string(id.codeText()) + "." + std::string(PeriodDirName(period));
}

std::string AppPaths::exdataDir(MarketCode market) const {
    std::string dir = marketDir(market);
    return dir.empty() ? dir : dir + "exdata/";
}

std::string AppPaths::exdataFile(const SecurityId& id) const {
    std::string dir = exdataDir(id.market);
    if (dir.empty() || !UsableCode(id.codeText())) return {};
    return dir + std::string(id.codeText()) + ".exd";
}

std::string AppPaths::f10Dir(MarketCode market) const {
    std::string dir = marketDir(market);
    return dir.empty() ? dir : dir + "f10/";
}

std::string AppPaths::noteDir(MarketCode market) const {
    std::string dir = marketDir(market);
    return dir.empty() ? dir : dir + "note/";
}

std::string AppPaths::drawingFile(const SecurityId& id) const {
    std::string dir = noteDir(id.market);
    if (dir.empty() || !UsableCode(id.codeText())) return {};
    return dir + std::string(id.codeText()) + ".drw";
}

std::string AppPaths::newStockFile(const SecurityId& id) const {
    std::string dir = noteDir(id.market);
    if (dir.empty() || !UsableCode(id.codeText())) return {};
    return dir + std::string(id.codeText()) + ".nns";
}

std::string AppPaths::dayDownFile() const { return periodDir(kMarketSH, kPeriodDay) + "daydown.dat"; }
std::string AppPaths::min5DownFile() const { return periodDir(kMarketSH, kPeriodMin5) + "min5down.dat"; }

std::string AppPaths::baseDir() const { return appDir_ + "base/"; }

std::string AppPaths::formulaFile(int source) const {
    switch (source) {
        case 0: return baseDir() + "user.fml";
        case 1: return baseDir() + "common.fml";
        case 2: return baseDir() + "download.fml";
        default: return {};
    }
}

std::string AppPaths::alarmFile() const { return baseDir() + "alarm.dat"; }
std::string AppPaths::powerFile() const { return baseDir() + "Power.pwr"; }
std::string AppPaths::financeFile() const { return baseDir() + "finance.fin"; }
std::string AppPaths::capitalChangeFile() const { return baseDir() + "gbbg.dat"; }
std::string AppPaths::polyphonicFile() const { return baseDir() + "duoyin.ini"; }
std::string AppPaths::serverListFile() const { return baseDir() + "srvlist.txt"; }
std::string AppPaths::scrollMessageFile() const { return baseDir() + "scrollmessage.txt"; }
std::string AppPaths::coverFile() const { return baseDir() + "cover.bmp"; }
std::string AppPaths::blockDir() const { return appDir_ + "block/"; }
std::string AppPaths::blockIni() const { return blockDir() + "blk.ini"; }
std::string AppPaths::indicatorComboDir() const { return appDir_ + "icombo/"; }
std::string AppPaths::investDir() const { return appDir_ + "invest/"; }

std::string AppPaths::investFile(std::string_view name) const {
    if (!UsableCode(name)) return {};
    return investDir() + std::string(name) + ".inv";
}

std::string AppPaths::helpFile(std::string_view exeBaseName) const {
    return appDir_ + std::string(exeBaseName) + ".chm";
}

}  // namespace tessaro
