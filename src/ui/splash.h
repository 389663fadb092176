// The splash window: base/cover.bmp as background (a drawn cover when the file
// is missing or unreadable) and one line with the current start-up stage.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

namespace tessaro {

class Splash : public QWidget {
    Q_OBJECT
public:
    // coverFile: base/cover.bmp of the application directory.
    explicit Splash(const QString& coverFile, QWidget* parent = nullptr);
    // Shows a stage text and repaints at once (pending events are processed).
    void setStage(const QString& text);
    const QString& stage() const { return stage_; }
    bool hasCoverFile() const { return fromFile_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap cover_;
    bool fromFile_ = false;
    QString stage_;
};

}  // namespace tessaro
