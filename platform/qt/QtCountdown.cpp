#include "platform/qt/QtCountdown.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace kestrova::platform::qt {

namespace {

constexpr int kSide = 132;
// After the window is taken down, the time the desktop is given to repaint what it covered before
// the first frame is grabbed.
constexpr int kRepaintMs = 150;

}  // namespace

TCountdownWidget::TCountdownWidget(std::function<void()> cancel) : FCancel(std::move(cancel)) {
  setObjectName("Countdown");
  setWindowTitle("Kestrova");
  setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
                 Qt::WindowDoesNotAcceptFocus);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(kSide, kSide);
  setCursor(Qt::PointingHandCursor);
  setToolTip("Click to cancel");
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(kSide / 2, kSide / 2));
  }
}

void TCountdownWidget::SetSeconds(int seconds) {
  FSeconds = seconds;
  update();
}

void TCountdownWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), QColor(32, 36, 44));
  p.setPen(QPen(QColor(230, 30, 30), 4));
  p.drawEllipse(QRectF(rect()).adjusted(12, 12, -12, -12));
  QFont font = p.font();
  font.setPixelSize(56);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(rect().adjusted(0, -8, 0, -8), Qt::AlignCenter, QString::number(FSeconds));
  font.setPixelSize(11);
  font.setBold(false);
  p.setFont(font);
  p.setPen(QColor(200, 200, 200));
  p.drawText(rect().adjusted(0, 0, 0, -20), Qt::AlignHCenter | Qt::AlignBottom, "click to cancel");
}

void TCountdownWidget::mousePressEvent(QMouseEvent*) {
  if (FCancel) FCancel();
}

void TCountdownWidget::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && FCancel) {
    FCancel();
  } else {
    QWidget::keyPressEvent(e);
  }
}

bool TQtCountdown::Run(int seconds) {
  if (seconds <= 0) return true;
  QEventLoop loop;
  bool cancelled = false;
  TCountdownWidget widget([&] {
    cancelled = true;
    loop.quit();
  });
  int left = seconds;
  widget.SetSeconds(left);
  QTimer tick;
  tick.setInterval(1000);
  QObject::connect(&tick, &QTimer::timeout, &widget, [&] {
    if (--left <= 0) {
      loop.quit();
    } else {
      widget.SetSeconds(left);
    }
  });
  TInputQueue::TModalScope modal(FInput);
  FWidget = &widget;
  widget.show();
  widget.raise();
  tick.start();
  loop.exec();
  tick.stop();
  widget.hide();
  FWidget = nullptr;
  // Gone from the screen, and what it covered drawn again, before the recording's first grab.
  QEventLoop repaint;
  QTimer::singleShot(kRepaintMs, &repaint, &QEventLoop::quit);
  repaint.exec(QEventLoop::ExcludeUserInputEvents);
  return !cancelled;
}

}  // namespace kestrova::platform::qt
