// km4410r-windowshot PORT OUTDIR [SCALE]: the main window as the platform
// draws it, connected to the register on PORT (COM1 under Wine is the
// simulator), one PNG of the window on each page; messages go to stderr
// instead of waiting for OK. Used for the Windows build's screenshots and to
// look for clipped captions at other scales (QT_SCALE_FACTOR).
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>

#include "app/Mainform.h"
#include "app/program.h"
#include "app/uifakes.h"

namespace {

void settle(int ms) {
  for (int i = 0; i < ms / 20; ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(20);
  }
}

// What the screen shows of the window, else the widget's own rendering.
QPixmap shot(QWidget& w) {
  if (QScreen* screen = w.screen()) {
    const QRect frame = w.geometry();
    QPixmap p = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!p.isNull()) return p;
  }
  return w.grab();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: km4410r-windowshot PORT OUTDIR\n");
    return 2;
  }
  KmApplication app(argc, argv);
  const QString port = QString::fromLocal8Bit(argv[1]);
  const QDir out(QString::fromLocal8Bit(argv[2]));
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "km4410r-windowshot: cannot create %s\n", argv[2]);
    return 1;
  }
  FakeServices services;
  services.clock = QDateTime::currentDateTime();
  services.onMessage = [](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); };
  services.installSelf();

  CreateWindows();
  Form1->move(0, 0);
  Form1->show();
  settle(1500);
  Form1->ui.ComboBox1->setEditText(port);
  Form1->Button2Click();
  settle(500);
  if (!Form1->isConnected()) {
    std::fprintf(stderr, "km4410r-windowshot: could not connect on %s\n", argv[1]);
    return 1;
  }
  bool ok = true;
  const auto save = [&](const QString& name) {
    const QString path = out.filePath(name);
    if (!shot(*Form1).save(path, "PNG")) {
      std::fprintf(stderr, "km4410r-windowshot: cannot write %s\n", qPrintable(path));
      ok = false;
    } else {
      std::printf("%s\n", qPrintable(path));
    }
  };
  save(QStringLiteral("main-window.png"));
  PageControl* pages = Form1->ui.PageControl1;
  for (int i = 0; i < pages->count(); ++i) {
    pages->setCurrentIndex(i);
    settle(300);
    save(QStringLiteral("main-%1.png").arg(pages->widget(i)->objectName()));
  }
  pages->setCurrentIndex(0);
  DestroyWindows();
  return ok && services.messages.isEmpty() ? 0 : 1;
}
