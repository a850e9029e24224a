// The desktop viewer of `kestrova view`: a window that plays a recording (all its parts as one
// timeline) with the project's own player: play/pause (Space), a seek bar with the time, frame
// steps (Left/Right), fit-to-window (F) and 1:1 (1) zoom.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "player/PartedMovie.h"

class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace kestrova::platform::qt {

// Paints the frame: scaled to fit (keeping its shape, nearest texel) or pixel for pixel.
class TFrameView : public QWidget {
 public:
  explicit TFrameView(QWidget* parent = nullptr);
  void SetFrame(QImage frame);
  void SetFit(bool fit);
  bool Fit() const { return FFit; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage FFrame;
  bool FFit = true;
};

class TViewerWindow : public QWidget {
 public:
  // Takes the movie, which has not shown a frame yet; shows its first frame.
  explicit TViewerWindow(std::unique_ptr<TPartedMovie> movie, const QString& title);
  ~TViewerWindow() override;

  void Play();
  void Pause();
  void TogglePlay();
  void Step(int delta);
  void SeekTo(int frame);

  bool Playing() const;
  int Frame() const { return FMovie->Frame(); }
  // The frame shown, as the player drew it.
  const QImage& FrameImage() const { return FImage; }
  TFrameView& View() { return *FView; }
  QString TimeText() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Show(bool ok);
  void Tick();

  std::unique_ptr<TPartedMovie> FMovie;
  QImage FImage;
  TFrameView* FView = nullptr;
  QSlider* FSeek = nullptr;
  QLabel* FTime = nullptr;
  QPushButton* FPlay = nullptr;
  QPushButton* FZoom = nullptr;
  QTimer* FTimer = nullptr;
  bool FUpdatingSeek = false;
};

// Runs the viewer over the parts until its window is closed; returns the exit status. Says on
// err when there is no display or the movie cannot be played (status 1).
int RunViewer(const std::vector<std::string>& parts, std::ostream& err);

}  // namespace kestrova::platform::qt
