#include "player/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace zuvo {

namespace {

// Links followed before a chain counts as a loop (the atomic write gives up at the same depth).
constexpr int kMaxLinkDepth = 128;

// `absolute` with "." and ".." removed and its longest existing prefix resolved to the real
// directory; the missing rest is appended as written (it holds no links yet).
QString ResolveExistingPrefix(const QString& absolute) {
    const QString clean = QDir::cleanPath(absolute);
    QString existing = clean;
    QString rest;
    while (!existing.isEmpty() && existing != "/" && !QFileInfo::exists(existing)) {
        const qsizetype slash = existing.lastIndexOf('/');
        rest = existing.mid(slash + 1) + (rest.isEmpty() ? QString() : "/" + rest);
        existing = slash <= 0 ? QString("/") : existing.left(slash);
    }
    QString real = QFileInfo(existing).canonicalFilePath();
    if (real.isEmpty()) real = existing;
    if (rest.isEmpty()) return real;
    return real.endsWith('/') ? real + rest : real + "/" + rest;
}

QString DirectoryOf(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).absolutePath();
}

}  // namespace

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

std::string WriteTarget(const std::string& path) {
    if (path.empty() || path.front() != '/') return {};
    // The file itself may be a link (even one pointing nowhere yet); follow the chain as the
    // atomic write does, then resolve the directories it passes through.
    QFileInfo info(ResolveExistingPrefix(QString::fromStdString(path)));
    int depth = kMaxLinkDepth;
    while (info.isSymLink()) {
        if (--depth == 0) return {};
        info.setFile(ResolveExistingPrefix(info.symLinkTarget()));
    }
    return info.filePath().toStdString();
}

bool WritesInside(const std::string& path, const std::vector<std::string>& roots) {
    const std::string target = WriteTarget(path);
    if (target.empty()) return false;
    for (const std::string& root : roots) {
        if (root.empty() || root.front() != '/') continue;
        std::string dir = ResolveExistingPrefix(QString::fromStdString(root)).toStdString();
        if (dir != "/") dir += '/';
        if (target.size() > dir.size() && target.compare(0, dir.size(), dir) == 0) return true;
    }
    return false;
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) return false;
    const QString name = QString::fromStdString(path);
    QDir().mkpath(name);
    return QFileInfo(name).isDir();
}

bool WriteFileAtomically(const std::string& path, const std::string& content,
                         const std::vector<std::string>& roots) {
    if (path.empty()) return false;
    const std::vector<std::string> allowed =
        roots.empty() ? std::vector<std::string>{DirectoryOf(path).toStdString()} : roots;
    if (!WritesInside(path, allowed)) return false;
    const QString target = QString::fromStdString(WriteTarget(path));
    if (!MakeDirectories(QFileInfo(target).absolutePath().toStdString())) return false;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const qint64 size = static_cast<qint64>(content.size());
    if (file.write(content.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace zuvo
