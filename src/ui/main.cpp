// tanvork: the desktop program.
#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMetaObject>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "http/KivHttpClient.h"
#include "ui/uFrmMain.h"
#include "ui/uStartupFiles.h"
#include "ui/uUiPrompts.h"
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
  // A file-size limit reached while saving is an error to show, not a reason to die.
  std::signal(SIGXFSZ, SIG_IGN);
  InitHttpClient();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tanvork"));
  // Where QSettings keeps the window's comfort.
  QApplication::setOrganizationName(QStringLiteral("Tanvork"));
  InstallQtTranslations();
#ifdef TANVORK_APP_ID
  // Wayland compositors match the window with its menu entry (and icon) by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral(TANVORK_APP_ID));
#endif
  // The installed icon; from a build folder there is none and Qt's default stays.
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tanvork")));
  KivWorkerInit();
  // Main-thread jobs of the pool run from Qt's loop, also inside modal dialogs.
  SetMainThreadWaker([] { QMetaObject::invokeMethod(qApp, [] { PumpMessages(); }, Qt::QueuedConnection); });
  int rc = 0;
  {
    TForm1 window;
    window.show();
    // Files from the command line (the menu entry's "Open with"), after Qt took its options.
    OpenStartupFiles(window, QApplication::arguments());
    rc = app.exec();
  }
  KivWorkerFinal();
  SetMainThreadWaker({});
  return rc;
}
