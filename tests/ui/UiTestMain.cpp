// The window tests: QTest under the offscreen platform, with the worker pool
// and the HTTP client started as the program starts them.
#include <QApplication>
#include <QMetaMethod>
#include <QMetaObject>
#include <QTest>
#include <cstdlib>

#include "UiTestSuites.h"
#include "http/KivHttpClient.h"
#include "workers/KivWorker.h"

namespace {

// Test functions named on the command line pick the suites that have them.
bool SuiteWanted(const QObject& ASuite, int argc, char** argv) {
  bool named = false;
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg(argv[i]);
    if (arg.startsWith('-')) {
      // Options with a value: skip it.
      if (arg == "-o" || arg == "-maxwarnings" || arg == "-eventdelay" || arg == "-keydelay" ||
          arg == "-mousedelay" || arg == "-seed")
        ++i;
      continue;
    }
    named = true;
    const QByteArray function = arg.left(arg.indexOf(':'));
    const QMetaObject* meta = ASuite.metaObject();
    for (int m = 0; m < meta->methodCount(); ++m)
      if (meta->method(m).name() == function) return true;
  }
  return !named;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  InitHttpClient();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tanvork"));
  KivWorkerInit();
  SetMainThreadWaker([] { QMetaObject::invokeMethod(qApp, [] { PumpMessages(); }, Qt::QueuedConnection); });
  int failed = 0;
  {
    TMainWindowTest mainWindow;
    if (SuiteWanted(mainWindow, argc, argv)) failed += QTest::qExec(&mainWindow, argc, argv);
    TDialogsTest dialogs;
    if (SuiteWanted(dialogs, argc, argv)) failed += QTest::qExec(&dialogs, argc, argv);
  }
  KivWorkerFinal();
  SetMainThreadWaker({});
  return failed == 0 ? 0 : 1;
}
