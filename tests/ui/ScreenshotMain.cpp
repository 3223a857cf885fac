// ui_screenshot <book-source file> <out.png> [row] [check]: the main window
// with the file loaded and a row shown in the editor, rendered to a picture.
// With "check": the table view after a check run whose plain-http requests go
// through a local proxy that answers for every site (mostly alive, some dead,
// some rate-limited), so the picture needs no network; https sites, which the
// proxy cannot tunnel, come out as failures.
#include <httplib.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QCheckBox>
#include <QHeaderView>
#include <QListView>
#include <QMetaObject>
#include <QPixmap>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "http/KivHttpClient.h"
#include "ui/uFrmMain.h"
#include "workers/KivWorker.h"

namespace {

// Each site answers the same way every time: its host picks the status.
void Answer(const httplib::Request& AReq, httplib::Response& ARes) {
  std::string host = AReq.get_header_value("Host");
  if (host.empty()) host = AReq.path;
  switch (std::hash<std::string>()(host) % 10) {
    case 7:
      ARes.status = 404;
      break;
    case 8:
      ARes.status = 429;
      break;
    case 9:
      ARes.status = 500;
      break;
    default:
      ARes.set_content("<html><body>ok</body></html>", "text/html");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ui_screenshot <book-source file> <out.png> [row] [check]\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const bool check = argc > 4 && std::strcmp(argv[4], "check") == 0;
  httplib::Server proxy;
  std::thread serving;
  if (check) {
    proxy.Get(".*", Answer);
    const int port = proxy.bind_to_any_port("127.0.0.1");
    if (port <= 0) return 1;
    serving = std::thread([&proxy] { proxy.listen_after_bind(); });
    const std::string address = "http://127.0.0.1:" + std::to_string(port);
    setenv("http_proxy", address.c_str(), 1);
    setenv("https_proxy", address.c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
  }
  InitHttpClient();
  QApplication app(argc, argv);
  // The window's remembered settings: a throw-away place, starting from the defaults.
  QStandardPaths::setTestModeEnabled(true);
  QApplication::setOrganizationName(QStringLiteral("tanvork-tools"));
  QSettings().clear();
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
    if (check) {
      // Wide enough for the table's columns beside the editor.
      window.resize(1600, 760);
      QTest::qWait(50);
      window.SetTableView(true);
      window.Splitter1->setSizes({800, window.width() - 804});
      window.CheckBox1->setChecked(false);
      window.CheckBox2->setChecked(true);
      TRunOptions options;
      options.RemoveRepeat = false;
      options.CheckSources = true;
      window.Logic().ExecuteRun(options, [] { QApplication::processEvents(); });
      // What the run did is said once the window has seen its end.
      QTest::qWait(200);
    }
    if (window.Logic().RowCount() > row) {
      window.SelectSingleRow(row);
      window.Logic().LoadIntoEditor();
      if (!check) window.Logic().LogD(u"已载入书源文件");
    }
    QTest::qWait(300);
    if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
      std::fprintf(stderr, "ui_screenshot: cannot write %s\n", argv[2]);
      rc = 1;
    }
  }
  KivWorkerFinal();
  SetMainThreadWaker({});
  if (check) {
    proxy.stop();
    serving.join();
  }
  return rc;
}
