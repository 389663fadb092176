// For the Qt tests against a real server: a generated market served by tessaro-quoted with a
// client logged in to it over loopback (its store with the base files, the standard formula set
// and a ready quote session).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "client/qt/qt_client_transport.h"
#include "client/quote_session.h"
#include "formula/formula_set.h"
#include "formula/standard_library.h"
#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "platform/settings_store.h"
#include "test_support/qt_wait.h"
#include "test_support/quoted_process.h"
#include "test_support/temp_dir.h"

namespace tessaro {

struct LiveMarket {
    TempDir temp;
    DemoMarketOptions demo;
    QuotedServer server;
    SettingsStore settings;
    std::unique_ptr<AppPaths> paths;  // the client's application directory
    std::unique_ptr<MarketStore> store;
    FormulaSet formulas;
    QtClientTransport net;
    std::unique_ptr<QuoteSession> session;
    std::string error;

    // Generates `market` into the temporary directory, gives the client a copy of its own when
    // `ownCopy` (so the test can change the client's files), starts the server with
    // `serverOptions` and logs in. False with the reason in `error`.
    bool Start(DemoMarketOptions market, bool ownCopy, const QStringList& serverOptions = {}) {
        demo = std::move(market);
        demo.outDir = temp.path() + "/server";
        if (!GenerateDemoMarket(demo)) return Fail("cannot generate the market");
        std::string client = demo.outDir;
        if (ownCopy) {
            client = temp.path() + "/client";
            std::filesystem::copy(demo.outDir, client, std::filesystem::copy_options::recursive);
        }
        if (!server.Start(demo.outDir, serverOptions)) return Fail(server.process.readAllStandardError().toStdString());
        paths = std::make_unique<AppPaths>(client);
        store = std::make_unique<MarketStore>(*paths, settings);
        store->SetBaseFileLoader([this](MarketStore& s) { LoadBaseFiles(s, *paths); });
        if (!store->LoadAll()) return Fail("cannot load the client's market");
        for (FormulaRecord& r : BuildStandardLibrary().formulas) formulas.Put(std::move(r));
        session = std::make_unique<QuoteSession>(ClientContext{*paths, store.get(), &formulas, &settings, nullptr}, net,
                                                 NoticeFn{});
        net.Attach(session.get());
        session->Connect(ConnectTarget{"loopback", "127.0.0.1", server.port, {}}, LoginAccount{}, net.NowMs());
        if (!WaitFor([&] { return session->ready(); }, 30000)) return Fail("no login");
        return true;
    }

    // The last security of the first market that is not an index.
    std::optional<CodeEntry> Stock() const {
        std::optional<CodeEntry> stock;
        for (const CodeEntry& e : store->ListSecurities(1))
            if (e.securityClass != kClassIndex) stock = e;
        return stock;
    }

    ~LiveMarket() {
        if (session) session->Disconnect(net.NowMs());
    }

private:
    bool Fail(std::string why) {
        error = std::move(why);
        return false;
    }
};

}  // namespace tessaro
