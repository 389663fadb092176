#include "client/qt/qt_client_transport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "client/loopback_peer.h"
#include "market/market_store.h"
#include "platform/settings_store.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

struct QtRun {
    bool ready = false, failed = false, disconnected = false;
};

QtRun Drive(uint16_t port, int limitMs = 5000) {
    TempDir dir;
    AppPaths paths(dir.path());
    SettingsStore settings;
    MarketStore store(paths, settings);
    store.LoadAll();
    QtRun run;
    QtClientTransport net;
    QuoteSession session(ClientContext{paths, &store, nullptr, &settings, nullptr}, net, [&](const ClientNotice& n) {
        run.failed |= n.kind == NoticeKind::ConnectFailed;
        run.disconnected |= n.kind == NoticeKind::Disconnected;
    });
    net.Attach(&session);
    session.Connect(ConnectTarget{"loopback", "127.0.0.1", port, {}}, {"guest", "x"}, net.NowMs());
    QElapsedTimer t;
    t.start();
    while (!session.ready() && !run.failed && !run.disconnected && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    run.ready = session.ready();
    session.Disconnect(net.NowMs());
    return run;
}

TEST(QtClientTransportConcurrency, ChainOverQTcpSocketAndRefusedConnection) {
    {
        test::LoopbackPeer::Plan plan;
        plan.oneByteWrites = true;
        test::LoopbackPeer peer(plan);
        EXPECT_TRUE(Drive(peer.port()).ready);
    }
    test::LoopbackPeer::Plan closing;
    closing.closeAtCode = kCodeCodeTable;
    {
        test::LoopbackPeer peer(closing);
        QtRun r = Drive(peer.port());
        EXPECT_FALSE(r.ready);
        EXPECT_TRUE(r.disconnected);
    }
    uint16_t closedPort;
    {
        test::LoopbackPeer peer({});
        closedPort = peer.port();
    }
    EXPECT_TRUE(Drive(closedPort).failed);
}

}  // namespace
}  // namespace tessaro

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
