// km4410r-screenshots OUTDIR: renders every window of the tool, and every page
// of the main window, to PNG files, with the main window connected to the
// register simulator. Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include "app/Mainform.h"
#include "history/history.h"
#include "app/Status.h"
#include "app/Unit5.h"
#include "app/program.h"
#include "app/tracewindow.h"
#include "app/uifakes.h"
#include "sim/register_model.h"
#include "sim/simulator.h"

namespace {

bool save(QWidget& w, const QDir& dir, const QString& name) {
  const QString path = dir.filePath(name);
  if (!w.grab().save(path, "PNG")) {
    std::fprintf(stderr, "km4410r-screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

void settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// False with a message: the screenshots cannot go on.
bool Refuse(const char* why) {
  std::fprintf(stderr, "km4410r-screenshots: %s\n", why);
  return false;
}

// The main window connected to the simulator at COM1, then each page.
bool MainWindow(const QDir& out, const FakeServices& services, bool* ok) {
  CreateWindows();
  Form1->show();
  settle();
  *ok = save(*Form1, out, QStringLiteral("main-disconnected.png")) && *ok;

  Form1->Button2Click();  // COM1, 19200 baud: the simulator
  settle();
  if (!Form1->isConnected() || !services.messages.isEmpty()) return Refuse("could not connect to the simulator");
  *ok = save(*Form1, out, QStringLiteral("main-window.png")) && *ok;

  // The exchange trace, open from here on, records the pages and the test run.
  Form1->Button38Click();
  PageControl* pages = Form1->ui.PageControl1;
  for (int i = 0; i < pages->count(); ++i) {
    pages->setCurrentIndex(i);
    settle();
    *ok = save(*Form1, out, QStringLiteral("main-%1.png").arg(pages->widget(i)->objectName())) && *ok;
  }
  return true;
}

// The register test page after a finished run of one pass, and the trace
// after it with the bytes of one exchange of its end.
bool TestRunAndTrace(const QDir& out, const FakeServices& services, bool* ok) {
  Form1->ui.PageControl1->setCurrentIndex(0);
  Form1->tab1.Edit1->setText(QStringLiteral("0"));
  Form1->tab1.ComboBox2->setEditText(QStringLiteral("1"));
  Form1->Button3Click();
  settle();
  if (!services.messages.isEmpty()) return Refuse("the register test reported errors");
  *ok = save(*Form1, out, QStringLiteral("main-TabSheet1-run.png")) && *ok;

  TraceWindow* trace = Form1->traceWindow();
  trace->flush();
  auto* table = trace->findChild<QTableView*>(QStringLiteral("TraceTable"));
  table->selectRow(trace->model()->rowCount() - 4);
  trace->findChild<QPushButton*>(QStringLiteral("TraceBytes"))->setChecked(true);
  trace->BytesClick();
  settle();
  *ok = save(*trace, out, QStringLiteral("trace-window.png")) && *ok;

  // The history page with the run just kept, its plots in front.
  Form1->ui.PageControl1->setCurrentWidget(Form1->TabSheet(13));
  Form1->tab13.PageControlHistory->setCurrentIndex(0);
  settle();
  *ok = save(*Form1, out, QStringLiteral("main-TabSheet13-history.png")) && *ok;
  Form1->tab13.PageControlHistory->setCurrentIndex(3);
  settle();
  *ok = save(*Form1, out, QStringLiteral("main-TabSheet13-plots.png")) && *ok;
  return true;
}

// The status-byte viewer and the invalid-state dialog, grabbed while shown.
void Dialogs(const QDir& out, FakeServices& services, km4410r::sim::Simulator& sim, bool* ok) {
  auto grabDialog = [&](const QString& file) {
    return [&, file](QDialog& dialog) {
      settle();
      *ok = save(dialog, out, file) && *ok;
    };
  };
  services.dialogScripts[QStringLiteral("TForm5")] = grabDialog(QStringLiteral("TForm5.png"));
  Form1->Button25Click();

  // A register with a non-fiscal receipt open has something to say in the
  // invalid-state dialog.
  sim.withModel([](km4410r::sim::RegisterModel& m) { m.execute(0x26, ""); });
  services.dialogScripts[QStringLiteral("TForm4")] = grabDialog(QStringLiteral("TForm4.png"));
  Form4->ShowModal();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: km4410r-screenshots OUTDIR\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A virtual port folder of our own, so that COM1 is the simulator here.
  QTemporaryDir runtime;
  if (!runtime.isValid()) {
    Refuse("no temporary folder");
    return 1;
  }
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

  KmApplication app(argc, argv);
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "km4410r-screenshots: cannot create %s\n", argv[1]);
    return 1;
  }

  km4410r::sim::Options options;
  options.baud = 0;
  km4410r::sim::Simulator sim(options);
  std::string error;
  if (!sim.start(&error) || !sim.registerCom(1, &error)) {
    std::fprintf(stderr, "km4410r-screenshots: simulator: %s\n", error.c_str());
    return 1;
  }

  FakeServices services;
  services.clock = QDateTime::currentDateTime();
  services.onMessage = [](const QString& text) {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  };
  services.installSelf();

  // A history of its own, so that the history page shows the run made here.
  history::Location where;
  where.localPath = runtime.filePath(QStringLiteral("history.sqlite"));
  history::Store store(where);
  store.Open();
  history::Store::SetShared(&store);

  bool ok = true;
  if (!MainWindow(out, services, &ok) || !TestRunAndTrace(out, services, &ok)) return 1;
  Dialogs(out, services, sim, &ok);
  DestroyWindows();
  history::Store::SetShared(nullptr);
  sim.stop();
  return ok ? 0 : 1;
}
