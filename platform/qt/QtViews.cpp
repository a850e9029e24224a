#include "platform/qt/QtViews.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPaintEngine>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <algorithm>

#include "platform/qt/QtPictures.h"

namespace kestrova::platform::qt {

namespace {

QLabel* AddLabel(QWidget* parent, const char* name, const char* text, QPoint at,
                 const char* family = nullptr) {
  auto* label = new QLabel(text, parent);  // owned by its parent
  label->setObjectName(name);
  if (family != nullptr) {
    QFont font(family);
    font.setPixelSize(11);
    label->setFont(font);
  }
  label->adjustSize();
  label->move(at);
  return label;
}

// The panel, as wide as the window, and inside it, centred, the area of content width where the
// components stand at their places (the window may be wider than the components need, to fit
// its title).
QWidget* AddPanel(QWidget* parent, QRect geometry, int contentWidth) {
  auto* panel = new QFrame(parent);
  panel->setObjectName("Panel1");
  panel->setFrameShape(QFrame::Box);
  panel->setAutoFillBackground(true);  // it covers the labels laid under it
  panel->setGeometry(geometry);
  auto* content = new QWidget(panel);
  content->setObjectName("Content");
  content->setGeometry((geometry.width() - contentWidth) / 2, 0, contentWidth, geometry.height());
  return content;
}

// The radio buttons' column: the third choice takes a row, and what stood below moves down by it.
constexpr int kRow = 18;
// Below the form's components: the countdown, the sound and the hot key, a line each.
constexpr int kChoiceRow = 24, kChoicesTop = 183, kChoices = 3 * kChoiceRow;

void SetUpWindow(QWidget& w, const char* caption, QSize client) {
  QFont font("Tahoma");
  font.setPixelSize(11);
  w.setFont(font);
  w.setWindowTitle(caption);
  w.setFixedSize(client);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    w.move(screen->availableGeometry().center() - QPoint(client.width() / 2, client.height() / 2));
  }
}

}  // namespace

TPictureButton::TPictureButton(QWidget* parent, const char* name, TPicture picture, QRect geometry)
    : QAbstractButton(parent), FKind(picture) {
  setObjectName(name);
  setGeometry(geometry);
  setCursor(Qt::PointingHandCursor);
}

QSize TPictureButton::sizeHint() const {
  return DrawPicture(FKind).size();
}

void TPictureButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // The ratio of what is painted on: the window's screen, or a picture the window is rendered in.
  const QPaintEngine* engine = p.paintEngine();
  const qreal ratio = engine != nullptr && engine->paintDevice() != nullptr
                          ? engine->paintDevice()->devicePixelRatioF()
                          : devicePixelRatioF();
  if (FPicture.isNull() || FPicture.devicePixelRatio() != ratio) {
    FPicture = DrawPicture(FKind, ratio);
  }
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(QRectF(rect()), FPicture);
  if (isDown()) p.fillRect(rect(), QColor(0, 0, 0, 50));
}

int FittingWidth(const QString& caption, int least) {
  // What window managers title windows with: the desktop's title font where Qt knows it, bold,
  // and at least the 11 points of the largest common default (GNOME's); room for an icon and
  // three buttons as tall as a line of it, and the frame's margins.
  QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  font.setBold(true);
  if (font.pointSizeF() > 0 && font.pointSizeF() < 11) font.setPointSizeF(11);
  const QFontMetrics metrics(font);
  const int button = metrics.height() + 6;
  return std::max(least, metrics.horizontalAdvance(caption) + 4 * button + 24);
}

TToolWindowWidget::TToolWindowWidget(TInputQueue& input) : FInput(input) {
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  const int width = FittingWidth("Kestrova 1.1", 172);
  SetUpWindow(*this, "Kestrova 1.1", {width, 180 + kRow + kChoices});
  // In creation order, as the form lays them out; the two labels lie under the panel.
  AddLabel(this, "Label1", "Label1", {8, 8});
  AddLabel(this, "Label3", "Label3", {100, 133 + kRow});
  QWidget* panel = AddPanel(this, {4, 4, width - 7, 173 + kRow + kChoices}, 165);
  auto click = [this](QAbstractButton* b) {
    QObject::connect(b, &QAbstractButton::clicked, this, [this, b] {
      FInput.Push(TUIEvent{TUIEventKind::Click, b->objectName().toStdString(), 0});
    });
  };
  click(new TPictureButton(panel, "Image1", TPicture::Stop, {42, 78 + kRow, 77, 28}));
  click(new TPictureButton(panel, "ImgBtnStartRecord", TPicture::Start, {41, 78 + kRow, 78, 28}));
  auto* caption = new TPictureButton(panel, "ImgCaption", TPicture::Caption, {15, 6, 137, 25});
  caption->setCursor(Qt::ArrowCursor);
  click(new TPictureButton(panel, "ImgExit", TPicture::Exit, {41, 133 + kRow, 74, 27}));
  AddLabel(panel, "Label2", "Press Ctrl+Alt+S to Stop", {31, 113 + kRow}, "Arial");
  auto* active = new QRadioButton("Active Window", panel);
  active->setObjectName("RdoActiveWindow");
  active->setGeometry(31, 55, 113, 17);
  active->setToolTip("Click Start button and activate the window within 3 secs.");
  auto* full = new QRadioButton("Full Screen", panel);
  full->setObjectName("RdoFullScreen");
  full->setGeometry(31, 37, 113, 17);
  full->setChecked(true);
  auto* region = new QRadioButton("Region", panel);
  region->setObjectName("RdoRegion");
  region->setGeometry(31, 55 + kRow, 113, 17);
  region->setToolTip(
      "Click Start button and drag a rectangle over the part of the screen to "
      "record.");
  click(active);
  click(full);
  click(region);
  AddChoices(panel);
}

void TToolWindowWidget::AddChoices(QWidget* panel) {
  const auto changed = [this](const char* name) {
    return [this, name] { FInput.Push(TUIEvent{TUIEventKind::Click, name, 0}); };
  };
  int y = kChoicesTop;
  AddLabel(panel, "LblCountdown", "Countdown", {8, y + 4});
  auto* countdown = new QSpinBox(panel);
  countdown->setObjectName("SpnCountdown");
  countdown->setRange(0, 60);
  countdown->setSuffix(" s");
  countdown->setSpecialValueText("off");
  countdown->setGeometry(82, y, 75, 21);
  countdown->setToolTip("Seconds counted down before a recording starts (0: none).");
  QObject::connect(countdown, &QSpinBox::valueChanged, this, changed("SpnCountdown"));
  y += kChoiceRow;
  AddLabel(panel, "LblAudio", "Sound", {8, y + 4});
  auto* audio = new QComboBox(panel);
  audio->setObjectName("CmbAudio");
  audio->addItems({"None", "Microphone", "System", "Both"});
  audio->setGeometry(82, y, 75, 21);
  audio->setToolTip(
      "The sound recorded with the screen: the microphone, what the computer "
      "plays, or both.");
  // Only the user's choices: a value set by the program is no news to it.
  QObject::connect(audio, &QComboBox::activated, this, changed("CmbAudio"));
  y += kChoiceRow;
  auto* hotKey = new QPushButton("Change Hot Key...", panel);
  hotKey->setObjectName("BtnHotKey");
  hotKey->setGeometry(8, y, 149, 21);
  hotKey->setToolTip("Choose the key combination that stops a recording.");
  QObject::connect(hotKey, &QPushButton::clicked, this, changed("BtnHotKey"));
}

bool TToolWindowWidget::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FInput.Push(TUIEvent{TUIEventKind::Activate, "", 0});
  return QWidget::event(e);
}

void TToolWindowWidget::closeEvent(QCloseEvent* e) {
  FInput.Push(TUIEvent{TUIEventKind::Close, "", 0});
  e->accept();
}

TPausedDialogWidget::TPausedDialogWidget() {
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  const int width = FittingWidth("Kestrova 1.1 - PAUSED", 168);
  SetUpWindow(*this, "Kestrova 1.1 - PAUSED", {width, 179});
  setModal(true);
  QWidget* panel = AddPanel(this, {2, 3, width - 3, 174}, 165);
  const QSize title = DrawPicture(TPicture::Caption).size();
  auto* caption = new TPictureButton(panel, "ImgCaption", TPicture::Caption,
                                     {14, 14, title.width(), title.height()});
  caption->setCursor(Qt::ArrowCursor);
  AddLabel(panel, "Label2", "Press Ctrl+Alt+S to Stop", {20, 101}, "Arial");
  struct TButton {
    const char* Name;
    TPicture Picture;
    QRect Geometry;
    int Result;
  };
  const TButton buttons[] = {{"ImgBtnStopRecord", TPicture::Stop, {45, 59, 77, 28}, 1},
                             {"ImgBtnContinue", TPicture::Continue, {3, 129, 74, 27}, 2},
                             {"ImgBtnExit", TPicture::Exit, {83, 129, 74, 27}, 3}};
  for (const TButton& b : buttons) {
    auto* button = new TPictureButton(panel, b.Name, b.Picture, b.Geometry);
    const int result = b.Result;
    QObject::connect(button, &QAbstractButton::clicked, this, [this, result] { done(result); });
  }
}

QWidget* TQtView::Component(const std::string& name) const {
  return FWidget.findChild<QWidget*>(QString::fromStdString(name));
}

void TQtView::Show() {
  FWidget.show();
  FWidget.raise();
  FWidget.activateWindow();
}

void TQtView::Hide() {
  FWidget.hide();
  // The caller may block next (the Active Window wait sleeps for 3 seconds): the window must be
  // off the screen by then, not in a request the toolkit has yet to send to the display.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool TQtView::Visible() const {
  return FWidget.isVisible();
}

void TQtView::BringToFront() {
  // As on the desktop the recorder was first written for, bringing a hidden window to the front
  // does not show it: the tray's menu during a recording must not bring back a tool window that
  // looks idle while the recording goes on.
  if (!FWidget.isVisible()) return;
  FWidget.raise();
  FWidget.activateWindow();
}

void TQtView::SetCaption(const std::string& caption) {
  FWidget.setWindowTitle(QString::fromStdString(caption));
}

std::string TQtView::Caption() const {
  return FWidget.windowTitle().toStdString();
}

void TQtView::SetComponentVisible(const std::string& name, bool visible) {
  if (QWidget* c = Component(name)) c->setVisible(visible);
}

bool TQtView::ComponentVisible(const std::string& name) const {
  const QWidget* c = Component(name);
  return c == nullptr || !c->isHidden();
}

void TQtView::SetComponentLeft(const std::string& name, int left) {
  if (QWidget* c = Component(name)) c->move(left, c->y());
}

bool TQtView::Checked(const std::string& name) const {
  const auto* b = FWidget.findChild<QAbstractButton*>(QString::fromStdString(name));
  return b != nullptr && b->isChecked();
}

std::string TQtView::ComponentValue(const std::string& name) const {
  const QWidget* c = Component(name);
  if (const auto* spin = qobject_cast<const QSpinBox*>(c)) return std::to_string(spin->value());
  if (const auto* combo = qobject_cast<const QComboBox*>(c)) {
    return combo->currentText().toStdString();
  }
  if (const auto* label = qobject_cast<const QLabel*>(c)) return label->text().toStdString();
  return {};
}

void TQtView::SetComponentValue(const std::string& name, const std::string& value) {
  QWidget* c = Component(name);
  const QSignalBlocker quiet(c);
  const QString text = QString::fromStdString(value);
  if (auto* spin = qobject_cast<QSpinBox*>(c)) {
    bool number = false;
    const int seconds = text.toInt(&number);
    if (number) spin->setValue(seconds);
  } else if (auto* combo = qobject_cast<QComboBox*>(c)) {
    const int index = combo->findText(text);
    if (index >= 0) combo->setCurrentIndex(index);
  } else if (auto* label = qobject_cast<QLabel*>(c)) {
    label->setText(text);
    label->adjustSize();
  }
}

void TQtView::SetComponentEnabled(const std::string& name, bool enabled, const std::string& tip) {
  QWidget* c = Component(name);
  if (c == nullptr) return;
  c->setEnabled(enabled);
  if (!tip.empty()) c->setToolTip(QString::fromStdString(tip));
}

bool TQtView::ComponentEnabled(const std::string& name) const {
  const QWidget* c = Component(name);
  return c == nullptr || c->isEnabled();
}

void TQtView::SetChecked(const std::string& name, bool checked) {
  if (auto* b = FWidget.findChild<QAbstractButton*>(QString::fromStdString(name))) {
    b->setChecked(checked);
  }
}

int TQtView::ShowModal() {
  auto* dialog = qobject_cast<QDialog*>(&FWidget);
  if (dialog == nullptr) {
    Show();
    return 0;
  }
  TInputQueue::TModalScope modal(FInput);
  dialog->setResult(0);
  const int result = dialog->exec();
  return result == 0 ? 2 : result;
}

}  // namespace kestrova::platform::qt
