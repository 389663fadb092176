// The quote session bound to Qt: a QTcpSocket (which also does the host lookup)
// for the transport, a 20 ms QTimer for the ticks, a QElapsedTimer for the
// monotonic time. No protocol rule lives here.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include "client/quote_session.h"

namespace tessaro {

class QtClientTransport : public QObject, public ClientTransport {
    Q_OBJECT
public:
    explicit QtClientTransport(QObject* parent = nullptr);
    ~QtClientTransport() override;

    // Starts feeding the session with socket events and ticks.
    void Attach(QuoteSession* session);

    void Connect(const std::string& host, uint16_t port) override;
    void Send(ByteSpan bytes) override;
    void Close() override;

    uint64_t NowMs() const { return uint64_t(clock_.elapsed()); }

private:
    void OnConnected();
    void OnReadyRead();
    void OnDisconnected();
    void OnError(QAbstractSocket::SocketError error);

    QuoteSession* session_ = nullptr;
    QTcpSocket* socket_ = nullptr;
    QTimer timer_;
    QElapsedTimer clock_;
    bool connecting_ = false;
};

}  // namespace tessaro
