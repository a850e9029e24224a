#include "platform/qt/QtRegionPicker.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrova::platform::qt {

namespace {

// Below this (device-independent pixels either way) a drag is a slip of the hand.
constexpr int kSmallestDrag = 4;

std::int32_t Scale(int logical, int origin, qreal ratio) {
  return origin + static_cast<std::int32_t>(std::lround((logical - origin) * ratio));
}

// The desktop as one picture in device-independent pixels, each screen grabbed where it stands.
QImage GrabDesktop(const QRect& desktop) {
  const QScreen* primary = QGuiApplication::primaryScreen();
  const qreal ratio = primary != nullptr ? primary->devicePixelRatio() : 1;
  QImage out(desktop.size() * ratio, QImage::Format_ARGB32_Premultiplied);
  out.setDevicePixelRatio(ratio);  // kept at the screen's own sharpness
  out.fill(Qt::black);
  QPainter p(&out);
  bool any = false;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QPixmap shot = screen->grabWindow(0);
    if (shot.isNull()) continue;
    p.drawPixmap(QRectF(screen->geometry().translated(-desktop.topLeft())), shot,
                 QRectF(shot.rect()));
    any = true;
  }
  return any ? out : QImage();
}

}  // namespace

TScreenRect ToScreenPixels(const QRect& logical, const QRect& screenGeometry, qreal ratio) {
  const int ox = screenGeometry.x(), oy = screenGeometry.y();
  return TScreenRect{Scale(logical.left(), ox, ratio), Scale(logical.top(), oy, ratio),
                     Scale(logical.left() + logical.width(), ox, ratio),
                     Scale(logical.top() + logical.height(), oy, ratio)};
}

TRegionOverlay::TRegionOverlay(std::function<void()> done) : FDone(std::move(done)) {
  setObjectName("RegionOverlay");
  setWindowTitle("Kestrova");
  setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
  setAttribute(Qt::WA_TranslucentBackground);
  setCursor(Qt::CrossCursor);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    setGeometry(screen->virtualGeometry());
  }
}

QRect TRegionOverlay::Selection() const {
  if (!FAnchor) return {};
  // From where the button went down to where the pointer is, that pixel not included: a drag
  // from 10 to 110 is 100 pixels wide, as the size shown says.
  return QRect(QPoint(std::min(FAnchor->x(), FCurrent.x()), std::min(FAnchor->y(), FCurrent.y())),
               QSize(std::abs(FCurrent.x() - FAnchor->x()), std::abs(FCurrent.y() - FAnchor->y())));
}

void TRegionOverlay::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (!FBackground.isNull()) p.drawImage(0, 0, FBackground);
  const QRect selection = Selection();
  QRegion dim(rect());
  dim -= selection;
  p.setClipRegion(dim);
  p.fillRect(rect(), QColor(0, 0, 0, FBackground.isNull() ? 90 : 120));
  p.setClipping(false);
  QFont font = p.font();
  font.setPixelSize(14);
  font.setBold(true);
  p.setFont(font);
  if (selection.isEmpty()) {
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, "Drag over the part of the screen to record. Esc cancels.");
    return;
  }
  p.setPen(QPen(QColor(230, 30, 30), 2));
  p.setBrush(Qt::NoBrush);
  p.drawRect(selection.adjusted(-1, -1, 0, 0));
  // The size in the pixels the movie will have.
  const QScreen* s = screen();
  const TScreenRect real =
      ToScreenPixels(selection, s != nullptr ? s->geometry() : QRect(), devicePixelRatioF());
  const QString size = QString("%1 x %2").arg(real.Width()).arg(real.Height());
  const QRect box = p.fontMetrics().boundingRect(size).adjusted(-6, -3, 6, 3);
  QRect at = box.translated(selection.left() - box.left(), selection.top() - box.bottom() - 4);
  if (at.top() < 0) at.moveTop(selection.top() + 4);
  p.fillRect(at, QColor(0, 0, 0, 180));
  p.setPen(Qt::white);
  p.drawText(at, Qt::AlignCenter, size);
}

void TRegionOverlay::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) {
    Finish(std::nullopt);
  } else if (e->button() == Qt::LeftButton) {
    FAnchor = FCurrent = e->position().toPoint();
    update();
  }
}

void TRegionOverlay::mouseMoveEvent(QMouseEvent* e) {
  if (!FAnchor) return;
  FCurrent = e->position().toPoint();
  update();
}

void TRegionOverlay::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !FAnchor) return;
  FCurrent = e->position().toPoint();
  const QRect selection = Selection();
  FAnchor.reset();
  if (selection.width() < kSmallestDrag || selection.height() < kSmallestDrag) {
    update();
    return;
  }
  Finish(selection.translated(geometry().topLeft()));
}

void TRegionOverlay::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    Finish(std::nullopt);
  } else {
    QWidget::keyPressEvent(e);
  }
}

void TRegionOverlay::Finish(std::optional<QRect> result) {
  FResult = result;
  if (FDone) FDone();
}

std::optional<TScreenRect> TQtRegionPicker::PickRegion() {
  QEventLoop loop;
  TRegionOverlay overlay([&loop] { loop.quit(); });
  overlay.SetBackground(GrabDesktop(overlay.geometry()));
  TInputQueue::TModalScope modal(FInput);
  FOverlay = &overlay;
  overlay.show();
  overlay.raise();
  overlay.activateWindow();
  // Escape must reach the overlay whichever window the desktop gives the keyboard to.
  overlay.grabKeyboard();
  loop.exec();
  overlay.releaseKeyboard();
  overlay.hide();
  FOverlay = nullptr;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  const std::optional<QRect> result = overlay.Result();
  if (!result) return std::nullopt;
  const QScreen* screen = QGuiApplication::screenAt(result->center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return std::nullopt;
  return ToScreenPixels(*result, screen->geometry(), screen->devicePixelRatio());
}

}  // namespace kestrova::platform::qt
