#include "player/player_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace zuvo {

namespace {

bool IsRestored(Qt::WindowStates states) {
    return !(states & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
}

QPixmap DrawIcon(int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x6f, 0xd9));
    p.drawEllipse(QRectF(0.5, 0.5, side - 1.0, side - 1.0));
    p.setBrush(Qt::white);
    const double s = side;
    const QPointF play[] = {{s * 0.38, s * 0.27}, {s * 0.38, s * 0.73}, {s * 0.76, s * 0.5}};
    p.drawPolygon(play, 3);
    return pixmap;
}

}  // namespace

QIcon PlayerIcon() {
    QIcon icon;
    icon.addPixmap(DrawIcon(16));
    icon.addPixmap(DrawIcon(32));
    return icon;
}

WindowSize PlayerWindow::FitToDesktop(WindowSize stored) {
    int maxWidth = stored.width, maxHeight = stored.height;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->virtualGeometry();
        maxWidth = std::max(kMinimumWindowSide, desktop.width());
        maxHeight = std::max(kMinimumWindowSide, desktop.height());
    }
    return {std::clamp(stored.width, kMinimumWindowSide, maxWidth),
            std::clamp(stored.height, kMinimumWindowSide, maxHeight)};
}

PlayerWindow::PlayerWindow(ControlFactory factory, std::string configPath, std::string commandLine,
                           QWidget* parent)
    : QWidget(parent, Qt::Window), configPath_(std::move(configPath)), commandLine_(std::move(commandLine)) {
    setObjectName("ZuvoPlayerMain");
    setWindowTitle(tr("Zuvo Player"));
    setWindowIcon(PlayerIcon());
    setMinimumSize(kMinimumWindowSide, kMinimumWindowSide);

    auto* exitAction = new QAction(tr("Exit"), this);
    exitAction->setShortcut(QKeySequence::Quit);
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    addAction(exitAction);

    const WindowSize size = FitToDesktop(LoadWindowSize(configPath_));
    resize(size.width, size.height);
    remembered_ = {width(), height()};
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), this->size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (factory) control_ = factory(this);
    if (control_) layout->addWidget(control_);

    if (!commandLine_.empty()) OpenStoredLink();
}

PlayerWindow::~PlayerWindow() = default;

LinkOutcome PlayerWindow::OpenStoredLink() {
    return OpenLink(commandLine_, control_);
}

void PlayerWindow::ReceiveCommandLine(const std::string& commandLine) {
    ShowAndRaise();
    if (commandLine.empty()) return;
    commandLine_ = commandLine;
    OpenStoredLink();
}

void PlayerWindow::ShowAndRaise() {
    if (isHidden()) show();
    if (windowState() & Qt::WindowMinimized) setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void PlayerWindow::RememberSizeIfRestored() {
    if (IsRestored(windowState())) remembered_ = {width(), height()};
}

void PlayerWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RememberSizeIfRestored();
}

void PlayerWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Back from maximised: the restored size arrives with the state change.
    if (event->type() == QEvent::WindowStateChange) RememberSizeIfRestored();
}

void PlayerWindow::ReleaseControl() {
    if (!control_) return;
    delete control_;
    control_ = nullptr;
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
    SaveWindowSize(configPath_, remembered_, writableRoots_);  // a failed write is not worth keeping the window open
    ReleaseControl();
    event->accept();
    QCoreApplication::exit(1);
}

}  // namespace zuvo
