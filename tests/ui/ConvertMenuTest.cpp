// 编辑 → 转换为新格式: the selected sources (else the current one) in place,
// a log line for each, one step for undo.
#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QItemSelectionModel>
#include <QTest>

#include "UiTestSuites.h"
#include "json/KivJson.h"

namespace {

const QByteArray kFormat2 =
    "[{\"bookSourceName\":\"a\",\"bookSourceUrl\":\"http://a/\",\"ruleSearchUrl\":\"/s?k=searchKey|char=gbk\","
    "\"ruleBookContent\":\"$id.c@textNodes\",\"weight\":5},"
    "{\"bookSourceName\":\"b\",\"bookSourceUrl\":\"http://b/\",\"ruleSearchUrl\":\"/s@k=searchKey@x\"},"
    "{\"bookSourceName\":\"c\",\"bookSourceUrl\":\"http://c/\",\"ruleBookName\":\"tag.h1@text\"}]";

}  // namespace

void TConvertMenuTest::convertsTheSelectedSourcesAndUndoes() {
  AddFile(Fixture("two.json", kFormat2));
  QCOMPARE(Rows(), 3);
  const String loaded0 = SourceJson(0), loaded1 = SourceJson(1), loaded2 = SourceJson(2);
  ClickRow(0);
  W->SrcList->selectionModel()->select(W->SrcList->model()->index(1, 0), QItemSelectionModel::Select);
  QAction* convert = W->findChild<QAction*>("V1");
  QVERIFY(convert);
  QCOMPARE(convert->text(), QStringLiteral("转换为新格式(&V)"));
  convert->trigger();

  QCOMPARE(ToUtf8(SourceJson(0)),
           std::string(R"({"bookSourceName": "a","bookSourceUrl": "http://a/","weight": 5,"enabled": true,)"
                       R"("enabledExplore": false,"searchUrl": "/s?k={{key}},{\"charset\":\"gbk\"}",)"
                       R"("ruleContent": {"content": "id.c@textNodes"}})"));
  QCOMPARE(SourceJson(1), loaded1);  // refused: as it was
  QCOMPARE(SourceJson(2), loaded2);  // not selected
  const QString log = LogText();
  QVERIFY2(log.contains(QStringLiteral("a(http://a/): 已转换为新格式")), qPrintable(log));
  QVERIFY2(log.contains(QStringLiteral("b(http://b/): 搜索地址有第二个'@'部分，无法无损转换")), qPrintable(log));
  QVERIFY2(log.contains(QStringLiteral("转换为新格式: 已转换1个, 未转换1个(其中1个无法无损转换).")), qPrintable(log));
  // The editor shows the converted source.
  QVERIFY(W->EditData->text().contains(QStringLiteral("\"searchUrl\"")));
  QCOMPARE(W->windowTitle(), QStringLiteral("Tanvork - two.json *"));

  W->U1->trigger();
  QCOMPARE(SourceJson(0), loaded0);
  QVERIFY(!W->EditData->text().contains(QStringLiteral("\"searchUrl\"")));
  W->Y1->trigger();
  QVERIFY(SourceJson(0) != loaded0);

  // Nothing selected but a current row: that one.
  W->SrcList->selectionModel()->clearSelection();
  W->SrcList->selectionModel()->setCurrentIndex(W->SrcList->model()->index(2, 0), QItemSelectionModel::NoUpdate);
  convert->trigger();
  QVERIFY(ToUtf8(SourceJson(2)).find("\"ruleBookInfo\": {\"name\": \"tag.h1@text\"}") != std::string::npos);
}
