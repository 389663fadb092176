#include "player/single_instance.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <sys/stat.h>

namespace zuvo {
namespace {

// Time allowed for a hand-over step. Passing tests never wait for it; it only has to outlast a
// loaded machine running sanitizer builds in parallel.
constexpr int kBudgetMs = 20000;

// Runs the UI thread's events until `done` holds or `timeoutMs` passes.
template <typename Pred>
bool ProcessEventsUntil(Pred done, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// HandOver on a worker thread (it blocks), the server on this one.
HandoverResult HandOverWhileServing(const QString& name, const std::string& line, int connectMs, int answerMs) {
    auto result = std::async(std::launch::async, [=] { return HandOver(name, line, connectMs, answerMs); });
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return result.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }, 3 * kBudgetMs));
    return result.get();
}

TEST(HandoverFrame, DecodesWholeAndSplitFrames) {
    const std::string line = "-zuvopurl zuvop2p://infostring=中文";
    const QByteArray frame = EncodeHandover(line);
    ASSERT_EQ(frame.size(), static_cast<qsizetype>(8 + line.size()));
    HandoverDecoder whole;
    EXPECT_EQ(whole.Feed(frame), HandoverDecoder::State::Complete);
    EXPECT_EQ(whole.commandLine(), line);
    HandoverDecoder split;
    for (qsizetype i = 0; i + 1 < frame.size(); ++i) {
        ASSERT_EQ(split.Feed(frame.mid(i, 1)), HandoverDecoder::State::NeedMore) << i;
    }
    EXPECT_EQ(split.Feed(frame.right(1)), HandoverDecoder::State::Complete);
    EXPECT_EQ(split.commandLine(), line);
    HandoverDecoder empty;
    EXPECT_EQ(empty.Feed(EncodeHandover("")), HandoverDecoder::State::Complete);
    EXPECT_EQ(empty.commandLine(), "");
}

TEST(HandoverFrame, RejectsHostileFrames) {
    HandoverDecoder magic;
    EXPECT_EQ(magic.Feed("ZUVX"), HandoverDecoder::State::Invalid);
    HandoverDecoder early;
    EXPECT_EQ(early.Feed("GET"), HandoverDecoder::State::Invalid);  // wrong from the first byte
    HandoverDecoder huge;
    EXPECT_EQ(huge.Feed(QByteArray("ZUVO\xff\xff\xff\xff", 8)), HandoverDecoder::State::Invalid);
    HandoverDecoder trailing;
    EXPECT_EQ(trailing.Feed(EncodeHandover("a") + "b"), HandoverDecoder::State::Invalid);
    HandoverDecoder limit;
    EXPECT_EQ(limit.Feed(EncodeHandover(std::string(kMaxHandoverBytes, 'x'))), HandoverDecoder::State::Complete);
    // Invalid UTF-8 never goes further.
    HandoverDecoder bytes;
    EXPECT_EQ(bytes.Feed(EncodeHandover("a\xff" "b")), HandoverDecoder::State::Complete);
    EXPECT_EQ(bytes.commandLine(), "a\xEF\xBF\xBD" "b");
}

TEST(InstanceLock, FirstAcquiresSecondSeesItHeldAndADeadOwnerIsTakenOver) {
    QTemporaryDir dir;
    const InstancePaths paths = InstancePathsFor(dir.path().toStdString());
    EXPECT_TRUE(paths.lockFile.endsWith("{1056A760-6642-4a2a-B2E8-E384D41A76B1}ZuvoP2P.lock"));
    {
        InstanceLock first(paths.lockFile);
        ASSERT_EQ(first.TryAcquire(), InstanceLock::State::Acquired);
        InstanceLock second(paths.lockFile);
        EXPECT_EQ(second.TryAcquire(), InstanceLock::State::HeldElsewhere);
    }
    InstanceLock again(paths.lockFile);
    EXPECT_EQ(again.TryAcquire(), InstanceLock::State::Acquired);  // released by the first

    // A lock file left behind by a process that no longer runs.
    QTemporaryDir other;
    const QString stale = other.path() + "/stale.lock";
    QFile file(stale);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("999999999\nzuvoplayer\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    file.close();
    InstanceLock taker(stale);
    EXPECT_EQ(taker.TryAcquire(), InstanceLock::State::Acquired);
    InstanceLock none(QString{});
    EXPECT_EQ(none.TryAcquire(), InstanceLock::State::Unavailable);
}

TEST(InstancePaths, FallbackDirectoryIsPrivate) {
    const InstancePaths paths = InstancePathsFor("");
    ASSERT_FALSE(paths.lockFile.isEmpty());
    const QByteArray dir = QFile::encodeName(QFileInfo(paths.lockFile).absolutePath());
    struct stat st {};
    ASSERT_EQ(::lstat(dir.constData(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(InstanceServer, AppliesTheCommandLineBeforeAnswering) {
    QTemporaryDir dir;
    const QString name = InstancePathsFor(dir.path().toStdString()).socketName;
    std::vector<std::string> received;
    InstanceServer server([&](const std::string& line) { received.push_back(line); });
    ASSERT_TRUE(server.Listen(name));
    EXPECT_EQ(HandOverWhileServing(name, "-zuvopurl zuvop2p://volume=3", kBudgetMs, kBudgetMs),
              HandoverResult::Applied);
    ASSERT_EQ(received.size(), 1u);  // already applied when HandOver returned
    EXPECT_EQ(received[0], "-zuvopurl zuvop2p://volume=3");
    EXPECT_EQ(HandOverWhileServing(name, "", kBudgetMs, kBudgetMs), HandoverResult::Applied);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1], "");
}

TEST(InstanceServer, NobodyListeningEndsWithinTheTimeout) {
    QTemporaryDir dir;
    const QString name = InstancePathsFor(dir.path().toStdString()).socketName;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(HandOver(name, "x", 300, 300), HandoverResult::NoInstance);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(HandOver(QString{}, "x", 300, 300), HandoverResult::NoInstance);
}

TEST(InstanceServer, WaitsForAFirstInstanceThatIsStillStarting) {
    QTemporaryDir dir;
    const QString name = InstancePathsFor(dir.path().toStdString()).socketName;
    auto result = std::async(std::launch::async, [=] { return HandOver(name, "late", kBudgetMs, kBudgetMs); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string received;
    InstanceServer server([&](const std::string& line) { received = line; });
    ASSERT_TRUE(server.Listen(name));
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return result.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }, 3 * kBudgetMs));
    EXPECT_EQ(result.get(), HandoverResult::Applied);
    EXPECT_EQ(received, "late");
}

TEST(InstanceServer, BadAndStalledPeersAreDroppedAndServiceGoesOn) {
    QTemporaryDir dir;
    const QString name = InstancePathsFor(dir.path().toStdString()).socketName;
    int calls = 0;
    InstanceServer server([&](const std::string&) { ++calls; });
    server.SetPeerTimeout(300);
    ASSERT_TRUE(server.Listen(name));

    QLocalSocket hostile;
    hostile.connectToServer(name);
    ASSERT_TRUE(ProcessEventsUntil([&] { return hostile.state() == QLocalSocket::ConnectedState; }));
    hostile.write(QByteArray("ZUVO\xff\xff\xff\x7f", 8));
    EXPECT_TRUE(ProcessEventsUntil([&] { return hostile.state() == QLocalSocket::UnconnectedState; }));

    QLocalSocket stalled;
    stalled.connectToServer(name);
    ASSERT_TRUE(ProcessEventsUntil([&] { return stalled.state() == QLocalSocket::ConnectedState; }));
    stalled.write(QByteArray("ZUVO\x05\x00\x00\x00" "ab", 10));  // three bytes never come
    EXPECT_TRUE(ProcessEventsUntil([&] { return stalled.state() == QLocalSocket::UnconnectedState; }));
    EXPECT_EQ(calls, 0);

    // A sound peer on a loaded machine may pause between connecting and writing: give it time.
    server.SetPeerTimeout(kBudgetMs);
    EXPECT_EQ(HandOverWhileServing(name, "ok", kBudgetMs, kBudgetMs), HandoverResult::Applied);
    EXPECT_EQ(calls, 1);
}

TEST(InstanceServer, AStaleSocketFileDoesNotBlockANewServer) {
    QTemporaryDir dir;
    const QString name = InstancePathsFor(dir.path().toStdString()).socketName;
    QFile leftover(name);
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();
    InstanceServer server([](const std::string&) {});
    EXPECT_TRUE(server.Listen(name));
}

}  // namespace
}  // namespace zuvo
