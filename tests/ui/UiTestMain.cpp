// The window tests: QTest under the offscreen platform, with the worker pool
// and the HTTP client started as the program starts them.
#include <QApplication>
#include <QMetaObject>
#include <QTest>
#include <cstdlib>

#include "UiTestSuites.h"
#include "http/KivHttpClient.h"
#include "workers/KivWorker.h"

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
    failed += QTest::qExec(&mainWindow, argc, argv);
    TDialogsTest dialogs;
    failed += QTest::qExec(&dialogs, argc, argv);
  }
  KivWorkerFinal();
  SetMainThreadWaker({});
  return failed == 0 ? 0 : 1;
}
