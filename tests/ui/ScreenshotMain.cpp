// ui_screenshot <book-source file> <out.png> [row]: the main window with the
// file loaded and a row shown in the editor, rendered to a picture.
#include <QApplication>
#include <QListView>
#include <QMetaObject>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "http/KivHttpClient.h"
#include "ui/uFrmMain.h"
#include "workers/KivWorker.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ui_screenshot <book-source file> <out.png> [row]\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  InitHttpClient();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tanvork"));
  KivWorkerInit();
  SetMainThreadWaker([] { QMetaObject::invokeMethod(qApp, [] { PumpMessages(); }, Qt::QueuedConnection); });
  int rc = 0;
  {
    TForm1 window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) rc = 1;
    window.AddDroppedFiles({QString::fromLocal8Bit(argv[1])});
    const int row = argc > 3 ? std::atoi(argv[3]) : 3;
    if (window.Logic().RowCount() > row) {
      window.SelectSingleRow(row);
      window.Logic().LoadIntoEditor();
      window.Logic().LogD(u"已载入书源文件");
    }
    QTest::qWait(300);
    if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
      std::fprintf(stderr, "ui_screenshot: cannot write %s\n", argv[2]);
      rc = 1;
    }
  }
  KivWorkerFinal();
  SetMainThreadWaker({});
  return rc;
}
