// The play window ("Play Window"): the picture control (id 1742) that shows the player's frames
// scaled into the 4:3 box, and the colour-key picker's rubber band over it.
#pragma once

#include <QDialog>
#include <QWidget>

#include "playback/player.h"

constexpr int32_t kPictureControlId = 1742;

class PictureWidget : public QWidget {
    Q_OBJECT
  public:
    explicit PictureWidget(QWidget* parent);
    PlayPicture& picture() { return picture_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    PlayPicture picture_;
};

class PlayWindow : public QDialog {
    Q_OBJECT
  public:
    // The frame size is the project's (useProjectList) or the file's.
    PlayWindow(QWidget* parent, int32_t width, int32_t height);
    PictureWidget* pictureControl() const { return picture_; }
    // The picture control's rectangle in this window's client coordinates.
    RECT pictureRect() const;
    // The picker's band being dragged, or an empty rectangle.
    QRect band() const { return dragging_ ? QRect(origin_, current_).normalized() : QRect(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    PictureWidget* picture_;
    bool dragging_ = false;
    QPoint origin_;
    QPoint current_;
};
