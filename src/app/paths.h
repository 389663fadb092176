// Path builders: every data file and directory, relative to the application
// directory. Builders only build strings; none creates anything. A builder for
// an unknown market or period, or for a code or name that would leave its
// directory (empty, "..", or holding a slash), returns "".
#pragma once

#include <string>
#include <string_view>

#include "platform/period.h"
#include "platform/security_id.h"

namespace tessaro {

class AppPaths {
public:
    AppPaths() = default;
    // appDir gets a trailing '/' when it lacks one.
    explicit AppPaths(std::string appDir);

    const std::string& appDir() const { return appDir_; }

    // data/<mk>/ ; "" for an unknown market.
    std::string marketDir(MarketCode market) const;
    // data/<mk>/stkinfo.dat
    std::string marketFile(MarketCode market) const;
    // data/<mk>/<per>/ for periods 3 "min", 4 "fiv", 8 "day"; "" otherwise.
    std::string periodDir(MarketCode market, Period period) const;
    // data/<mk>/<per>/<code>.<per>
    std::string historyFile(const SecurityId& id, Period period) const;
    std::string exdataDir(MarketCode market) const;       // data/<mk>/exdata/
    std::string exdataFile(const SecurityId& id) const;   // data/<mk>/exdata/<code>.exd
    std::string f10Dir(MarketCode market) const;          // data/<mk>/f10/
    std::string noteDir(MarketCode market) const;         // data/<mk>/note/
    std::string drawingFile(const SecurityId& id) const;  // data/<mk>/note/<code>.drw
    std::string newStockFile(const SecurityId& id) const; // data/<mk>/note/<code>.nns
    std::string dayDownFile() const;                      // data/sh/day/daydown.dat
    std::string min5DownFile() const;                     // data/sh/fiv/min5down.dat

    std::string baseDir() const;                          // base/
    // base/user.fml (source 0), base/common.fml (1), base/download.fml (2).
    std::string formulaFile(int source) const;
    std::string alarmFile() const;                        // base/alarm.dat
    std::string powerFile() const;                        // base/Power.pwr
    std::string financeFile() const;                      // base/finance.fin
    std::string capitalChangeFile() const;                // base/gbbg.dat
    std::string polyphonicFile() const;                   // base/duoyin.ini
    std::string serverListFile() const;                   // base/srvlist.txt
    std::string scrollMessageFile() const;                // base/scrollmessage.txt
    std::string coverFile() const;                        // base/cover.bmp
    std::string blockDir() const;                         // block/
    std::string blockIni() const;                         // block/blk.ini
    std::string indicatorComboDir() const;                // icombo/
    std::string investDir() const;                        // invest/
    std::string investFile(std::string_view name) const;  // invest/<name>.inv
    // <exe base name>.chm in the application directory.
    std::string helpFile(std::string_view exeBaseName) const;

private:
    std::string appDir_;
};

}  // namespace tessaro
