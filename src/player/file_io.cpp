#include "player/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace zuvo {

FileText ReadSmallFile(const std::string& path, std::size_t maxBytes) {
    FileText result;
    const QString name = QString::fromStdString(path);
    const QFileInfo info(name);
    if (!info.exists()) return result;
    result.status = ReadStatus::Failed;
    if (!info.isFile() || static_cast<std::size_t>(info.size()) > maxBytes) return result;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return result;
    const QByteArray data = file.read(static_cast<qint64>(maxBytes) + 1);
    if (file.error() != QFileDevice::NoError || static_cast<std::size_t>(data.size()) > maxBytes) return result;
    result.text = data.toStdString();
    result.status = ReadStatus::Ok;
    return result;
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) return false;
    const QString name = QString::fromStdString(path);
    QDir().mkpath(name);
    return QFileInfo(name).isDir();
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
    if (path.empty()) return false;
    QString name = QString::fromStdString(path);
    const QFileInfo info(name);
    if (info.isSymLink()) name = info.symLinkTarget();
    if (!MakeDirectories(QFileInfo(name).absolutePath().toStdString())) return false;
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const qint64 size = static_cast<qint64>(content.size());
    if (file.write(content.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace zuvo
