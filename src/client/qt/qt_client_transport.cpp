#include "client/qt/qt_client_transport.h"

#include <QHostAddress>

namespace tessaro {

QtClientTransport::QtClientTransport(QObject* parent) : QObject(parent) {
    clock_.start();
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (session_) session_->OnTick(NowMs());
    });
}

QtClientTransport::~QtClientTransport() { Close(); }

void QtClientTransport::Attach(QuoteSession* session) {
    session_ = session;
    timer_.start();
}

void QtClientTransport::Connect(const std::string& host, uint16_t port) {
    Close();
    socket_ = new QTcpSocket(this);
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_->setReadBufferSize(0);
    connect(socket_, &QTcpSocket::connected, this, &QtClientTransport::OnConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &QtClientTransport::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &QtClientTransport::OnDisconnected);
    connect(socket_, &QTcpSocket::errorOccurred, this, &QtClientTransport::OnError);
    connecting_ = true;
    socket_->connectToHost(QString::fromStdString(host), port);
}

void QtClientTransport::Send(ByteSpan bytes) {
    if (socket_ && socket_->state() == QAbstractSocket::ConnectedState)
        socket_->write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

void QtClientTransport::Close() {
    if (!socket_) return;
    QTcpSocket* s = socket_;
    socket_ = nullptr;  // events of the old socket no longer reach the session
    connecting_ = false;
    s->disconnect(this);
    s->abort();
    s->deleteLater();
}

void QtClientTransport::OnConnected() {
    connecting_ = false;
    if (session_) session_->OnConnected(NowMs());
}

void QtClientTransport::OnReadyRead() {
    if (!socket_) return;
    QByteArray data = socket_->readAll();
    if (session_ && !data.isEmpty())
        session_->OnBytes(ByteSpan(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size())), NowMs());
}

void QtClientTransport::OnDisconnected() {
    if (!socket_ || !session_) return;
    Close();
    session_->OnClosed(NowMs());
}

void QtClientTransport::OnError(QAbstractSocket::SocketError) {
    if (!socket_ || !session_) return;
    bool wasConnecting = connecting_;
    Close();
    if (wasConnecting)
        session_->OnConnectFailed(NowMs());
    else
        session_->OnClosed(NowMs());
}

}  // namespace tessaro
