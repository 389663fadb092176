// One running player per user: a lock file marks the first instance, which listens on a local
// socket; a later start hands its command line over that socket and waits until it is applied.
//
// Wire format of a hand-over (second instance -> first): "ZUVO", uint32 little-endian length, then
// that many bytes of UTF-8 command line (empty: only bring the window to the front). The first
// instance answers with one byte 'A' once the command line has been handled.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace zuvo {

// The name both instances agree on.
inline constexpr const char* kInstanceName = "{1056A760-6642-4a2a-B2E8-E384D41A76B1}ZuvoP2P";

// The longest command line accepted over the socket.
inline constexpr quint32 kMaxHandoverBytes = 1u << 20;

struct InstancePaths {
    QString lockFile;
    QString socketName;  // a full path: the server is created there
};

// Paths inside `runtimeDir`; when that is empty, inside a private directory of the user under the
// temporary directory (created 0700 and refused when it belongs to someone else). Both paths are
// empty when no safe directory exists.
InstancePaths InstancePathsFor(const std::string& runtimeDir);

// The lock of the first instance. Released when destroyed.
class InstanceLock {
public:
    explicit InstanceLock(const QString& path);
    ~InstanceLock();
    enum class State { Acquired, HeldElsewhere, Unavailable };
    // Acquired: this is the first instance. HeldElsewhere: another live process holds it (a lock
    // left by a dead process is taken over). Unavailable: no lock can be made at all.
    State TryAcquire();

private:
    std::unique_ptr<QLockFile> lock_;
};

// Hand-over frame of a command line.
QByteArray EncodeHandover(const std::string& commandLine);

// Incremental decoder of one frame. Feed bytes; Complete once the whole frame is in, Invalid on a
// bad magic or an oversized length (the connection is then dropped).
class HandoverDecoder {
public:
    enum class State { NeedMore, Complete, Invalid };
    State Feed(const QByteArray& bytes);
    const std::string& commandLine() const { return commandLine_; }

private:
    QByteArray buffer_;
    State state_ = State::NeedMore;
    std::string commandLine_;
};

// The first instance's side. Each complete frame calls the handler on the UI thread; the answer is
// sent after the handler returns. A peer that sends a bad frame or stalls is disconnected.
class InstanceServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const std::string& commandLine)>;
    explicit InstanceServer(Handler handler, QObject* parent = nullptr);
    ~InstanceServer() override;
    bool Listen(const QString& socketName);
    void SetPeerTimeout(int milliseconds) { peerTimeoutMs_ = milliseconds; }

private:
    void OnNewConnection();
    Handler handler_;
    QLocalServer* server_;
    int peerTimeoutMs_ = 10000;
};

enum class HandoverResult {
    Applied,     // the running instance answered
    NoInstance,  // nobody listening within the time allowed
    NoAnswer,    // connected, but no answer in time (or the connection broke)
};

// The second instance's side: connects (retrying while the first instance may still be starting),
// sends the command line and waits for the answer, all within `timeoutMs`.
HandoverResult HandOver(const QString& socketName, const std::string& commandLine, int connectTimeoutMs,
                        int answerTimeoutMs);

}  // namespace zuvo
