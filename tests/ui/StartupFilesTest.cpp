// Files given on the desktop program's command line: read from the arguments,
// loaded in order as dropped files are.
#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QUrl>

#include "UiTestSuites.h"
#include "ui/uStartupFiles.h"

void TStartupFilesTest::filesFromArguments_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<QStringList>("files");  // relative ones under the current folder
  QTest::newRow("no arguments") << QStringList{"tanvork"} << QStringList{};
  QTest::newRow("absolute paths in order") << QStringList{"tanvork", "/b/2.json", "/a/1.json"}
                                           << QStringList{"/b/2.json", "/a/1.json"};
  QTest::newRow("relative paths") << QStringList{"tanvork", "x.json", "sub/y.json"}
                                  << QStringList{"x.json", "sub/y.json"};
  QTest::newRow("file URL, escaped") << QStringList{"tanvork", "file:///tmp/a%20b.json"}
                                     << QStringList{"/tmp/a b.json"};
  QTest::newRow("first -- ends the options") << QStringList{"tanvork", "--", "-x.json", "--"}
                                             << QStringList{"-x.json", "--"};
  QTest::newRow("a name that starts with a dash") << QStringList{"tanvork", "-x.json"}
                                                  << QStringList{"-x.json"};
}

void TStartupFilesTest::filesFromArguments() {
  QFETCH(QStringList, arguments);
  QFETCH(QStringList, files);
  const QString cwd = QDir::currentPath();
  QVERIFY(QDir::setCurrent(FDir.path()));
  const QStringList got = StartupFiles(arguments);
  QDir::setCurrent(cwd);
  QStringList want;
  for (const QString& f : files) want << (f.startsWith('/') ? f : FDir.filePath(f));
  QCOMPARE(got, want);
}

void TStartupFilesTest::loadsInOrderAfterTheWindowShows() {
  const QString second = Fixture("second.json", SourcesJson({{"g", "二", "http://x/2"}}));
  const QString first = Fixture("first.json", SourcesJson({{"g", "一", "http://x/1"}}));
  OpenStartupFiles(*W, {"tanvork", second, first});
  // Nothing before the event loop runs, as with a drop.
  QCOMPARE(Rows(), 0);
  QTRY_COMPARE(Rows(), 2);
  QCOMPARE(RowText(0), QStringLiteral("【g】二"));
  QCOMPARE(RowText(1), QStringLiteral("【g】一"));
  QVERIFY(Prompts.Errors().isEmpty());
}

void TStartupFilesTest::stopsAtTheFirstFailingFile_data() {
  QTest::addColumn<QByteArray>("failing");  // empty: the file does not exist
  QTest::addColumn<bool>("boxNamesFile");
  QTest::newRow("broken JSON") << QByteArray("[{\"bookSourceUrl\": \"http://x/3\",") << false;
  QTest::newRow("missing file") << QByteArray() << true;
}

void TStartupFilesTest::stopsAtTheFirstFailingFile() {
  QFETCH(QByteArray, failing);
  QFETCH(bool, boxNamesFile);
  const QString first = Fixture("first.json", SourcesJson({{"g", "一", "http://x/1"}, {"g", "二", "http://x/2"}}));
  const QString bad = failing.isEmpty() ? FDir.filePath("gone.json") : Fixture("bad.json", failing);
  const QString third = Fixture("third.json", SourcesJson({{"g", "三", "http://x/4"}}));
  OpenStartupFiles(*W, {"tanvork", first, bad, third});
  QTRY_COMPARE(Prompts.Errors().size(), 1);
  if (boxNamesFile) QVERIFY2(Prompts.Errors()[0].contains(QFileInfo(bad).fileName()), qPrintable(Prompts.Errors()[0]));
  QCOMPARE(Rows(), 2);
  QTest::qWait(50);
  QCOMPARE(Rows(), 2);  // the third file was never loaded
  QCOMPARE(Prompts.Errors().size(), 1);
}

void TStartupFilesTest::relativePathLoadsFromTheCurrentFolder() {
  Fixture("here.json", SourcesJson({{"g", "这里", "http://x/1"}}));
  const QString cwd = QDir::currentPath();
  QVERIFY(QDir::setCurrent(FDir.path()));
  OpenStartupFiles(*W, {"tanvork", "here.json"});
  // The folder may change before the load runs: the path was fixed when read.
  QDir::setCurrent(cwd);
  QTRY_COMPARE(Rows(), 1);
  QCOMPARE(RowText(0), QStringLiteral("【g】这里"));
}
