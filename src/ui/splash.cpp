#include "ui/splash.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

namespace tessaro {

namespace {
constexpr int kWidth = 480, kHeight = 300;

// The cover drawn when base/cover.bmp is missing.
QPixmap DrawnCover() {
    QPixmap pm(kWidth, kHeight);
    QPainter p(&pm);
    QLinearGradient g(0, 0, kWidth, kHeight);
    g.setColorAt(0, QColor(120, 10, 20));
    g.setColorAt(1, QColor(20, 20, 60));
    p.fillRect(pm.rect(), g);
    p.setPen(QColor(255, 215, 90));
    QFont title = QApplication::font();
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(0, 60, kWidth, 60), Qt::AlignCenter, QStringLiteral("Tessaro普及版"));
    QFont sub = QApplication::font();
    sub.setPixelSize(16);
    p.setFont(sub);
    p.setPen(QColor(230, 230, 240));
    p.drawText(QRect(0, 125, kWidth, 30), Qt::AlignCenter, QStringLiteral("沪深证券分析系统  5.01.001"));
    return pm;
}
}  // namespace

Splash::Splash(const QString& coverFile, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("splash");
    QPixmap file;
    if (!coverFile.isEmpty() && file.load(coverFile) && !file.isNull()) {
        cover_ = file;
        fromFile_ = true;
    } else {
        cover_ = DrawnCover();
    }
    setFixedSize(cover_.size());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Splash::setStage(const QString& text) {
    stage_ = text;
    repaint();
    QApplication::processEvents();
}

void Splash::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, cover_);
    QRect line(0, height() - 34, width(), 26);
    p.fillRect(line, QColor(0, 0, 0, 140));
    QFont f = QApplication::font();
    f.setPixelSize(14);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(line.adjusted(12, 0, -12, 0), Qt::AlignVCenter | Qt::AlignLeft, stage_);
}

}  // namespace tessaro
