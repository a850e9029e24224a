// The region picker: a window over the whole desktop showing the screen dimmed, on which the user
// drags the rectangle to record.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <functional>
#include <optional>

#include "platform/Platform.h"
#include "platform/qt/QtInput.h"

namespace kestrova::platform::qt {

// A rectangle of Qt's device-independent pixels on the screen whose geometry (device-independent
// too, its top left where the screen's real top left is) is given, in the screen's real pixels.
// Edges are rounded to the nearest pixel, so two rectangles that touch still touch.
TScreenRect ToScreenPixels(const QRect& logical, const QRect& screenGeometry, qreal ratio);

// Covers the desktop; a drag with the left button makes the rectangle, Escape or the right button
// cancels. A drag smaller than a few pixels is taken for a slip and starts over.
class TRegionOverlay : public QWidget {
 public:
  explicit TRegionOverlay(std::function<void()> done);
  // After done: the rectangle (device-independent, global), or nothing when cancelled.
  const std::optional<QRect>& Result() const { return FResult; }
  // The screen as it was when the overlay came up, drawn under the dimming; empty where the
  // desktop does not let programs read it (the dimming is then translucent).
  void SetBackground(QImage screen) { FBackground = std::move(screen); }
  // The rectangle being dragged (empty when none), for tests.
  QRect Selection() const;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void Finish(std::optional<QRect> result);
  std::function<void()> FDone;
  QImage FBackground;
  std::optional<QPoint> FAnchor;  // where the drag began, in the overlay's own coordinates
  QPoint FCurrent;
  std::optional<QRect> FResult;
};

class TQtRegionPicker : public TRegionPicker {
 public:
  explicit TQtRegionPicker(TInputQueue& input) : FInput(input) {}
  std::optional<TScreenRect> PickRegion() override;
  // While PickRegion runs: the overlay (for tests); else nullptr.
  TRegionOverlay* Overlay() const { return FOverlay; }

 private:
  TInputQueue& FInput;
  TRegionOverlay* FOverlay = nullptr;
};

}  // namespace kestrova::platform::qt
