#include "platform/qt/QtPictures.h"

#include <QFont>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace kestrova::platform::qt {

namespace {

struct TButtonLook {
  QSize Size;
  QColor Top, Bottom;
  const char* Text;
};

// The mark drawn left of a button's text.
enum class TMark { None, Dot, Square, Triangle, Cross };

void DrawMark(QPainter& p, TMark mark, const QRectF& box) {
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  switch (mark) {
    case TMark::Dot:
      p.setBrush(QColor(230, 30, 30));
      p.setPen(QPen(Qt::white, 1.5));
      p.drawEllipse(box);
      break;
    case TMark::Square:
      p.drawRect(box.adjusted(1, 1, -1, -1));
      break;
    case TMark::Triangle: {
      QPainterPath path;
      path.moveTo(box.left() + 1, box.top());
      path.lineTo(box.right(), box.center().y());
      path.lineTo(box.left() + 1, box.bottom());
      path.closeSubpath();
      p.drawPath(path);
      break;
    }
    case TMark::Cross:
      p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(box.topLeft() + QPointF(1, 1), box.bottomRight() - QPointF(1, 1));
      p.drawLine(box.topRight() + QPointF(-1, 1), box.bottomLeft() + QPointF(1, -1));
      break;
    case TMark::None:
      break;
  }
}

// A transparent picture of size (device-independent pixels) with ratio device pixels to each;
// a painter on it draws in device-independent pixels.
QImage Canvas(QSize size, qreal ratio) {
  QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::transparent);
  return image;
}

QImage DrawButton(const TButtonLook& look, TMark mark, qreal ratio) {
  QImage image = Canvas(look.Size, ratio);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF body = QRectF(QPointF(0, 0), look.Size).adjusted(0.5, 0.5, -0.5, -0.5);
  QLinearGradient fill(body.topLeft(), body.bottomLeft());
  fill.setColorAt(0, look.Top);
  fill.setColorAt(1, look.Bottom);
  p.setBrush(fill);
  p.setPen(QPen(look.Bottom.darker(150), 1));
  p.drawRoundedRect(body, 6, 6);
  const qreal side = body.height() * 0.42;
  const QRectF markBox(body.left() + 8, body.center().y() - side / 2, side, side);
  DrawMark(p, mark, markBox);
  QFont font("Arial");
  font.setPixelSize(12);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  const QRectF textBox = body.adjusted(mark == TMark::None ? 0 : markBox.width() + 8, 0, 0, 0);
  p.drawText(textBox, Qt::AlignCenter, look.Text);
  return image;
}

QImage DrawCaption(qreal ratio) {
  QImage image = Canvas({137, 25}, ratio);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient fill(0, 0, 137, 0);
  fill.setColorAt(0, QColor(24, 44, 96));
  fill.setColorAt(1, QColor(60, 110, 190));
  p.setBrush(fill);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(0, 0, 137, 25), 5, 5);
  p.setBrush(QColor(230, 30, 30));
  p.drawEllipse(QRectF(7, 7.5, 10, 10));
  QFont font("Arial");
  font.setPixelSize(15);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(22, 0, 112, 25), Qt::AlignVCenter | Qt::AlignLeft, "Kestrova");
  return image;
}

}  // namespace

QImage DrawPicture(TPicture picture, qreal ratio) {
  switch (picture) {
    case TPicture::Caption:
      return DrawCaption(ratio);
    case TPicture::Start:
      return DrawButton({{78, 28}, QColor(80, 190, 90), QColor(30, 120, 45), "Start"}, TMark::Dot,
                        ratio);
    case TPicture::Stop:
      return DrawButton({{77, 28}, QColor(225, 80, 70), QColor(150, 25, 20), "Stop"}, TMark::Square,
                        ratio);
    case TPicture::Exit:
      return DrawButton({{74, 27}, QColor(150, 150, 160), QColor(85, 85, 95), "Exit"}, TMark::Cross,
                        ratio);
    case TPicture::Continue:
      return DrawButton({{74, 27}, QColor(80, 140, 225), QColor(30, 75, 160), "Continue"},
                        TMark::None, ratio);
  }
  return {};
}

QImage DrawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 64.0;
  p.scale(s, s);
  // A monitor: dark frame, blue screen, a stand.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 44, 52));
  p.drawRoundedRect(QRectF(4, 8, 56, 40), 5, 5);
  QLinearGradient screen(0, 12, 0, 44);
  screen.setColorAt(0, QColor(70, 130, 210));
  screen.setColorAt(1, QColor(30, 70, 150));
  p.setBrush(screen);
  p.drawRect(QRectF(8, 12, 48, 32));
  p.setBrush(QColor(40, 44, 52));
  p.drawRect(QRectF(27, 48, 10, 6));
  p.drawRoundedRect(QRectF(18, 53, 28, 5), 2, 2);
  // The record light.
  p.setBrush(QColor(235, 35, 35));
  p.setPen(QPen(Qt::white, 2.5));
  p.drawEllipse(QRectF(22, 18, 20, 20));
  return image;
}

QImage DrawRecordingIcon(int size) {
  QImage image = DrawIcon(size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 64.0;
  p.scale(s, s);
  p.setBrush(QColor(235, 20, 20));
  p.setPen(QPen(Qt::white, 3));
  p.drawEllipse(QRectF(36, 34, 26, 26));
  return image;
}

namespace {

// Drawn at each size a tray, a title bar or a task switcher asks for at 1x and 2x, so none is
// scaled from another.
constexpr int kIconSizes[] = {16, 22, 24, 32, 44, 48, 64, 96, 128, 256};

QIcon IconOf(QImage (*draw)(int)) {
  QIcon icon;
  for (int size : kIconSizes) icon.addPixmap(QPixmap::fromImage(draw(size)));
  return icon;
}

}  // namespace

QIcon ProgramIcon() {
  return IconOf(DrawIcon);
}

QIcon RecordingIcon() {
  return IconOf(DrawRecordingIcon);
}

}  // namespace kestrova::platform::qt
