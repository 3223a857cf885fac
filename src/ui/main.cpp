// tanvork: the desktop program.
#include <QApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <cstdio>
#include <cstdlib>

#include "http/KivHttpClient.h"
#include "ui/uFrmMain.h"
#include "workers/KivWorker.h"

namespace {

// Without any display Qt would abort with a long message; one clear line instead.
bool HasDisplay() {
  auto set = [](const char* AName) {
    const char* v = std::getenv(AName);
    return v && *v;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fprintf(stderr, "tanvork: no display found (DISPLAY/WAYLAND_DISPLAY are unset); start it from a desktop session, or under xvfb-run.\n");
    return 1;
  }
  InitHttpClient();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tanvork"));
  KivWorkerInit();
  // Main-thread jobs of the pool run from Qt's loop, also inside modal dialogs.
  SetMainThreadWaker([] { QMetaObject::invokeMethod(qApp, [] { PumpMessages(); }, Qt::QueuedConnection); });
  int rc = 0;
  {
    TForm1 window;
    window.show();
    rc = app.exec();
  }
  KivWorkerFinal();
  SetMainThreadWaker({});
  return rc;
}
