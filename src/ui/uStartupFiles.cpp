#include "ui/uStartupFiles.h"

#include <QDir>
#include <QTimer>
#include <QUrl>

#include "ui/uFrmMain.h"

QStringList StartupFiles(const QStringList& AArguments) {
  QStringList files;
  bool optionsEnded = false;
  for (qsizetype i = 1; i < AArguments.size(); ++i) {
    const QString& arg = AArguments[i];
    if (arg == QLatin1String("--") && !optionsEnded) {
      optionsEnded = true;
      continue;
    }
    QString path = arg;
    if (arg.startsWith(QLatin1String("file:"))) {
      const QUrl url(arg);
      if (url.isLocalFile()) path = url.toLocalFile();
    }
    files.push_back(path.isEmpty() ? path : QDir::current().absoluteFilePath(path));
  }
  return files;
}

void OpenStartupFiles(TForm1& AWindow, const QStringList& AArguments) {
  const QStringList files = StartupFiles(AArguments);
  if (files.isEmpty()) return;
  // From the event loop, as a drop's files are: error boxes then have a shown window.
  QTimer::singleShot(0, &AWindow, [&AWindow, files] { AWindow.AddDroppedFiles(files); });
}
