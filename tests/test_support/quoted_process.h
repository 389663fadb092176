// tessaro-quoted as a child process for the Qt tests: a free loopback port, trading from 10:00
// with a fixed seed. The test target defines TESSARO_QUOTED as the program's path.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <string>

namespace tessaro {

struct QuotedServer {
    QProcess process;
    quint16 port = 0;

    // True once the server names its port; `extra` options follow the defaults.
    bool Start(const std::string& appDir, const QStringList& extra = {}) {
        process.start(TESSARO_QUOTED, QStringList{"--appdir", QString::fromStdString(appDir), "--listen",
                                                  "127.0.0.1:0", "--start", "10:00", "--seed", "5"} + extra);
        if (!process.waitForStarted(10000)) return false;
        QByteArray out;
        while (!out.contains('\n') && process.waitForReadyRead(20000)) out += process.readAllStandardOutput();
        QRegularExpressionMatch m = QRegularExpression("listening 127\\.0\\.0\\.1:(\\d+)").match(QString(out));
        port = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
        return port != 0;
    }
    // An operator command on the server's standard input.
    void Command(const QString& line) { process.write((line + "\n").toUtf8()); }
    ~QuotedServer() {
        process.terminate();
        if (!process.waitForFinished(5000)) process.kill();
        process.waitForFinished(2000);
    }
};

}  // namespace tessaro
