#include "platform/qt/QtViewer.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <cstdlib>

namespace kestrova::platform::qt {

// ---- TFrameView ----

TFrameView::TFrameView(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setMinimumSize(160, 120);
}

void TFrameView::SetFrame(QImage frame) {
  FFrame = std::move(frame);
  update();
}

void TFrameView::SetFit(bool fit) {
  FFit = fit;
  update();
}

QSize TFrameView::sizeHint() const {
  return FFrame.isNull() ? QSize(640, 480) : FFrame.size();
}

void TFrameView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(32, 32, 32));
  if (FFrame.isNull()) return;
  QSize size = FFrame.size();
  if (FFit) size.scale(this->size(), Qt::KeepAspectRatio);
  const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
  // Screen recordings hold text: nearest texel keeps it sharp.
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  p.drawImage(target, FFrame);
}

// ---- TViewerWindow ----

namespace {

QString Clock(double seconds) {
  const int s = static_cast<int>(seconds);
  return QString::asprintf("%d:%02d", s / 60, s % 60);
}

}  // namespace

TViewerWindow::TViewerWindow(std::unique_ptr<TPartedMovie> movie, const QString& title)
    : FMovie(std::move(movie)) {
  setWindowTitle(title);
  FView = new TFrameView(this);
  FPlay = new QPushButton(tr("Play"), this);
  FZoom = new QPushButton(tr("1:1"), this);
  FSeek = new QSlider(Qt::Horizontal, this);
  FSeek->setRange(1, std::max(1, FMovie->FrameCount()));
  FTime = new QLabel(this);
  for (QWidget* w : std::initializer_list<QWidget*>{FPlay, FZoom, FSeek}) {
    // The window's keys stay the window's.
    w->setFocusPolicy(Qt::NoFocus);
  }
  auto* controls = new QHBoxLayout;
  controls->addWidget(FPlay);
  controls->addWidget(FSeek, 1);
  controls->addWidget(FTime);
  controls->addWidget(FZoom);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FView, 1);
  layout->addLayout(controls);
  FTimer = new QTimer(this);
  FTimer->setInterval(static_cast<int>(std::lround(1000.0 / FMovie->FrameRate())));
  connect(FTimer, &QTimer::timeout, this, [this] { Tick(); });
  connect(FPlay, &QPushButton::clicked, this, [this] { TogglePlay(); });
  connect(FZoom, &QPushButton::clicked, this, [this] {
    FView->SetFit(!FView->Fit());
    FZoom->setText(FView->Fit() ? tr("1:1") : tr("Fit"));
  });
  connect(FSeek, &QSlider::valueChanged, this, [this](int v) {
    if (!FUpdatingSeek) SeekTo(v);
  });
  setFocusPolicy(Qt::StrongFocus);
  Show(FMovie->Seek(1));
}

TViewerWindow::~TViewerWindow() = default;

bool TViewerWindow::Playing() const {
  return FTimer->isActive();
}

void TViewerWindow::Play() {
  // Playing from the end starts again.
  if (FMovie->Frame() >= FMovie->FrameCount()) Show(FMovie->Seek(1));
  FTimer->start();
  FPlay->setText(tr("Pause"));
}

void TViewerWindow::Pause() {
  FTimer->stop();
  FPlay->setText(tr("Play"));
}

void TViewerWindow::TogglePlay() {
  Playing() ? Pause() : Play();
}

void TViewerWindow::Step(int delta) {
  Pause();
  SeekTo(FMovie->Frame() + delta);
}

void TViewerWindow::SeekTo(int frame) {
  Show(FMovie->Seek(frame));
}

void TViewerWindow::Tick() {
  if (FMovie->Frame() >= FMovie->FrameCount() || !FMovie->Next()) {
    Pause();
    return;
  }
  Show(true);
}

void TViewerWindow::Show(bool ok) {
  if (!ok) Pause();
  if (FMovie->Frame() == 0) return;
  FImage = QImage(FMovie->Pixels(), FMovie->Width(), FMovie->Height(), FMovie->Width() * 4,
                  QImage::Format_RGBA8888)
               .copy();
  FView->SetFrame(FImage);
  FUpdatingSeek = true;
  FSeek->setValue(FMovie->Frame());
  FUpdatingSeek = false;
  FTime->setText(TimeText());
}

QString TViewerWindow::TimeText() const {
  const double rate = FMovie->FrameRate();
  QString text = Clock((FMovie->Frame() - 1) / rate) + " / " + Clock(FMovie->FrameCount() / rate);
  if (FMovie->PartCount() > 1) {
    text += tr("  (part %1 of %2)").arg(FMovie->PartOf(FMovie->Frame())).arg(FMovie->PartCount());
  }
  return text;
}

void TViewerWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
      TogglePlay();
      break;
    case Qt::Key_Left:
      Step(-1);
      break;
    case Qt::Key_Right:
      Step(1);
      break;
    case Qt::Key_Home:
      Pause();
      SeekTo(1);
      break;
    case Qt::Key_End:
      Pause();
      SeekTo(FMovie->FrameCount());
      break;
    case Qt::Key_F:
      FView->SetFit(true);
      FZoom->setText(tr("1:1"));
      break;
    case Qt::Key_1:
      FView->SetFit(false);
      FZoom->setText(tr("Fit"));
      break;
    case Qt::Key_Escape:
    case Qt::Key_Q:
      close();
      break;
    default:
      QWidget::keyPressEvent(event);
  }
}

int RunViewer(const std::vector<std::string>& parts, std::ostream& err) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool display = (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
                       (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY")) ||
                       (platform && *platform);
  if (!display) {
    err << "kestrova: view needs a display, and none is set (DISPLAY and WAYLAND_DISPLAY are "
           "empty); `kestrova view --browser FILE.html` serves the page to a browser, and "
           "`kestrova frames` writes the frames as pictures\n";
    return 1;
  }
  std::unique_ptr<TPartedMovie> movie;
  try {
    movie = std::make_unique<TPartedMovie>(parts);
  } catch (const std::exception& e) {
    err << "kestrova: \"" << parts.front() << "\": " << e.what() << "\n";
    return 1;
  }
  int argc = 1;
  char name[] = "kestrova";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  TViewerWindow window(std::move(movie),
                       QString::fromStdString(parts.front()) + QStringLiteral(" - Kestrova"));
  window.resize(window.sizeHint().expandedTo(QSize(480, 360)));
  window.show();
  const int status = app.exec();
  return status;
}

}  // namespace kestrova::platform::qt
