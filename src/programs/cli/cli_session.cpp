#include "cli_session.h"

#include <cstdio>

#include "market/market_store.h"

namespace tessaro::cli {

std::unique_ptr<Session> MakeSession(const std::optional<std::string>& appDir, unsigned data, SessionAccess access,
                                     bool builtInFormulas) {
    SessionOptions options;
    options.appDir = appDir;
    options.access = access;
    options.data = data;
    options.requireMarket = (data & (kSessionMarkets | kSessionBlocks)) != 0;
    options.builtInFormulas = builtInFormulas;
    return std::make_unique<Session>(std::move(options));
}

bool StartSession(Session& session, std::string& error, const StartupSequence::ProgressFn& progress) {
    if (!session.Start(progress)) {
        error = session.error();
        return false;
    }
    if (session.hasMarkets())
        for (const std::string& note : session.store().LoadNotes()) std::fprintf(stderr, "tessaro-cli: %s\n", note.c_str());
    return true;
}

std::unique_ptr<Session> OpenSession(const std::string& appDir, unsigned data, std::string& error,
                                     SessionAccess access) {
    std::unique_ptr<Session> session = MakeSession(appDir, data, access);
    if (!StartSession(*session, error)) return nullptr;
    return session;
}

}  // namespace tessaro::cli
