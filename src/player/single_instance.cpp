#include "player/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace zuvo {

namespace {

constexpr char kMagic[4] = {'Z', 'U', 'V', 'O'};
constexpr int kHeaderSize = 8;
constexpr char kAnswer = 'A';

// A directory only this user can enter: created 0700 when missing, refused when it is a link,
// belongs to someone else or is open to others.
bool IsPrivateDirectory(const QByteArray& path) {
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

}  // namespace

InstancePaths InstancePathsFor(const std::string& runtimeDir) {
    QString dir = QString::fromStdString(runtimeDir);
    if (dir.isEmpty()) {
        dir = QDir::tempPath() + "/zuvoplayer-" + QString::number(::getuid());
        if (!IsPrivateDirectory(QFile::encodeName(dir))) return {};
    }
    const QString base = dir + "/" + kInstanceName;
    return {base + ".lock", base};
}

InstanceLock::InstanceLock(const QString& path) {
    if (!path.isEmpty()) {
        lock_ = std::make_unique<QLockFile>(path);
        // Only a dead owner makes the lock stale, however long the first instance has been running.
        lock_->setStaleLockTime(0);
    }
}

InstanceLock::~InstanceLock() = default;

InstanceLock::State InstanceLock::TryAcquire() {
    if (!lock_) return State::Unavailable;
    if (lock_->tryLock(0)) return State::Acquired;
    return lock_->error() == QLockFile::LockFailedError ? State::HeldElsewhere : State::Unavailable;
}

QByteArray EncodeHandover(const std::string& commandLine) {
    QByteArray frame(kMagic, sizeof kMagic);
    const auto n = static_cast<quint32>(commandLine.size());
    for (int i = 0; i < 4; ++i) frame.append(static_cast<char>((n >> (8 * i)) & 0xFF));
    frame.append(commandLine.data(), static_cast<qsizetype>(commandLine.size()));
    return frame;
}

HandoverDecoder::State HandoverDecoder::Feed(const QByteArray& bytes) {
    if (state_ != State::NeedMore) return state_;
    buffer_.append(bytes);
    const qsizetype magicBytes = std::min<qsizetype>(buffer_.size(), sizeof kMagic);
    if (QByteArrayView(buffer_.constData(), magicBytes) != QByteArrayView(kMagic, magicBytes)) {
        return state_ = State::Invalid;
    }
    if (buffer_.size() < kHeaderSize) return state_;
    quint32 length = 0;
    for (int i = 0; i < 4; ++i) {
        length |= static_cast<quint32>(static_cast<unsigned char>(buffer_[4 + i])) << (8 * i);
    }
    if (length > kMaxHandoverBytes) return state_ = State::Invalid;
    if (buffer_.size() < kHeaderSize + static_cast<qsizetype>(length)) return state_;
    if (buffer_.size() > kHeaderSize + static_cast<qsizetype>(length)) return state_ = State::Invalid;
    // Whatever the peer sent, only valid UTF-8 goes further (invalid bytes become U+FFFD).
    commandLine_ = QString::fromUtf8(buffer_.constData() + kHeaderSize, length).toStdString();
    buffer_.clear();
    return state_ = State::Complete;
}

InstanceServer::InstanceServer(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::OnNewConnection);
}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::Listen(const QString& socketName) {
    if (socketName.isEmpty()) return false;
    // Only the lock holder calls this, so a socket file left here belongs to a dead instance.
    QLocalServer::removeServer(socketName);
    return server_->listen(socketName);
}

void InstanceServer::OnNewConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto decoder = std::make_shared<HandoverDecoder>();
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
        timer->start(peerTimeoutMs_);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, decoder, timer] {
            switch (decoder->Feed(socket->readAll())) {
                case HandoverDecoder::State::NeedMore:
                    return;
                case HandoverDecoder::State::Invalid:
                    socket->abort();
                    return;
                case HandoverDecoder::State::Complete:
                    timer->stop();
                    if (handler_) handler_(decoder->commandLine());
                    socket->write(&kAnswer, 1);
                    socket->disconnectFromServer();
                    return;
            }
        });
    }
}

HandoverResult HandOver(const QString& socketName, const std::string& commandLine, int connectTimeoutMs,
                        int answerTimeoutMs) {
    if (socketName.isEmpty()) return HandoverResult::NoInstance;
    QLocalSocket socket;
    QElapsedTimer clock;
    clock.start();
    const auto remaining = [&clock](int budgetMs) {
        return static_cast<int>(std::max<qint64>(1, budgetMs - clock.elapsed()));
    };
    // The first instance takes the lock before it listens: keep trying for a short while.
    for (;;) {
        socket.connectToServer(socketName);
        if (socket.waitForConnected(remaining(connectTimeoutMs))) break;
        socket.abort();
        if (clock.elapsed() >= connectTimeoutMs) return HandoverResult::NoInstance;
        QThread::msleep(50);
    }
    socket.write(EncodeHandover(commandLine));
    clock.restart();
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remaining(answerTimeoutMs))) return HandoverResult::NoAnswer;
    }
    // The answer comes once the running window has applied the command line.
    while (clock.elapsed() < answerTimeoutMs) {
        if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(remaining(answerTimeoutMs))) {
            char c = 0;
            if (socket.read(&c, 1) == 1) return c == kAnswer ? HandoverResult::Applied : HandoverResult::NoAnswer;
        }
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0) break;
    }
    return HandoverResult::NoAnswer;
}

}  // namespace zuvo
