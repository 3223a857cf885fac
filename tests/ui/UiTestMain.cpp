// The window tests: QTest under the offscreen platform, with the worker pool
// and the HTTP client started as the program starts them.
#include <QApplication>
#include <QMetaMethod>
#include <QMetaObject>
#include <QStandardPaths>
#include <QTest>
#include <cstdio>
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
    const qsizetype colon = arg.indexOf(':');
    const QByteArray function = colon < 0 ? arg : arg.left(colon);
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
  // Remembered settings go to a test folder, never the user's.
  QStandardPaths::setTestModeEnabled(true);
  QApplication::setOrganizationName(QStringLiteral("tanvork-ui-tests"));
  // Tests close main windows; the next test still needs the application.
  QApplication::setQuitOnLastWindowClosed(false);
  KivWorkerInit();
  SetMainThreadWaker([] { QMetaObject::invokeMethod(qApp, [] { PumpMessages(); }, Qt::QueuedConnection); });
  int failed = 0, suites = 0;
  {
    TMainWindowTest mainWindow;
    TDialogsTest dialogs;
    TStartupFilesTest startupFiles;
    TDuplicatesDialogTest duplicates;
    TWorkSafetyTest workSafety;
    TConvertMenuTest convertMenu;
    TEditSource3Test editSource3;
    TComfortTest comfort;
    TRemoteHistoryTest remoteHistory;
    for (QObject* suite : {static_cast<QObject*>(&mainWindow), static_cast<QObject*>(&dialogs),
                           static_cast<QObject*>(&startupFiles), static_cast<QObject*>(&workSafety),
                           static_cast<QObject*>(&duplicates), static_cast<QObject*>(&editSource3),
                           static_cast<QObject*>(&convertMenu), static_cast<QObject*>(&comfort),
                           static_cast<QObject*>(&remoteHistory)})
      if (SuiteWanted(*suite, argc, argv)) {
        ++suites;
        failed += QTest::qExec(suite, argc, argv);
      }
  }
  if (suites == 0) {
    std::fprintf(stderr, "ui_tests: no suite has the test functions named\n");
    failed = 1;
  }
  KivWorkerFinal();
  SetMainThreadWaker({});
  return failed == 0 ? 0 : 1;
}
