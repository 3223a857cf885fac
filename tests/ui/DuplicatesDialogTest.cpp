// The duplicate review dialog and the merge preview, driven as a user would:
// menu item, choices, buttons; the collection checked afterwards.
#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include "UiTestSuites.h"
#include "json/KivJson.h"
#include "ui/uFrmDuplicates.h"
#include "ui/uFrmEditSource.h"
#include "ui/uFrmMergePreview.h"

namespace {

QAction* Item(QObject* AWindow, const char* AName) { return AWindow->findChild<QAction*>(AName); }

// Six sources: copies of a.com spelled three ways, b.com twice, c.com once.
const QByteArray kCopies =
    "[{\"bookSourceGroup\":\"G\",\"bookSourceName\":\"a-first\",\"bookSourceUrl\":\"http://a.com\"},"
    "{\"bookSourceName\":\"b-first\",\"bookSourceUrl\":\"http://b.com\"},"
    "{\"bookSourceName\":\"a-tagged\",\"bookSourceUrl\":\"https://www.a.com/#作者\"},"
    "{\"bookSourceName\":\"b-second\",\"bookSourceUrl\":\"http://b.com/\"},"
    "{\"bookSourceName\":\"a-slash\",\"bookSourceUrl\":\"http://a.com/\"},"
    "{\"bookSourceName\":\"c\",\"bookSourceUrl\":\"http://c.com\"}]";

// Chooses the mode and the policy, scans and waits for the sets.
void Scan(TfrmDuplicates* D, TDuplicateMode AMode, TKeepPolicy AKeep) {
  D->cbMode->setCurrentIndex(int(AMode));
  D->cbKeep->setCurrentIndex(int(AKeep));
  QTest::mouseClick(D->btnFind, Qt::LeftButton);
  QTRY_VERIFY(!D->Scanning());
}

QModelIndex SetIndex(TfrmDuplicates* D, int ASet) { return D->Model()->index(ASet, 0); }
QModelIndex MemberIndex(TfrmDuplicates* D, int ASet, int AMember) {
  return D->Model()->index(AMember, 0, SetIndex(D, ASet));
}

}  // namespace

void TDuplicatesDialogTest::changeTheKeptCopyAndLeaveASetAlone() {
  AddFile(Fixture("copies.json", kCopies));
  QCOMPARE(Rows(), 6);
  bool ran = false;
  QStringList setTexts, memberTexts;
  QString summary;
  WhenModal<TfrmDuplicates>([&](TfrmDuplicates* D) {
    Scan(D, TDuplicateMode::Site, TKeepPolicy::First);
    QCOMPARE(D->Model()->rowCount(), 2);
    for (int s = 0; s < 2; ++s) setTexts << SetIndex(D, s).data().toString();
    // The user keeps the tagged copy of a.com and leaves b.com's set alone.
    QVERIFY(D->Model()->setData(MemberIndex(D, 0, 1), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(!D->Model()->setData(MemberIndex(D, 0, 1), Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(D->Model()->setData(SetIndex(D, 1), Qt::Unchecked, Qt::CheckStateRole));
    for (int m = 0; m < 3; ++m) memberTexts << MemberIndex(D, 0, m).data().toString();
    QCOMPARE(MemberIndex(D, 0, 1).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(MemberIndex(D, 0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    summary = D->lbSummary->text();
    ran = true;
    QTest::mouseClick(D->btnRemove, Qt::LeftButton);
  });
  Item(W.get(), "F1")->trigger();
  QVERIFY(ran);
  QCOMPARE(setTexts, (QStringList{QStringLiteral("1. 站点相同：http://a.com（3 个）"),
                                  QStringLiteral("2. 站点相同：http://b.com（2 个）")}));
  QCOMPARE(memberTexts, (QStringList{QStringLiteral("删除  #1  【G】a-first  http://a.com"),
                                     QStringLiteral("保留  #3  【】a-tagged  https://www.a.com/#作者"),
                                     QStringLiteral("删除  #5  【】a-slash  http://a.com/")}));
  QCOMPARE(summary, QStringLiteral("共 2 组重复书源；选中 1 组，将删除 2 个书源。"));
  // The kept copy stands where the set's first member stood; b.com's copies stay.
  QCOMPARE(Rows(), 4);
  QCOMPARE(RowText(0), QStringLiteral("【】a-tagged"));
  QCOMPARE(RowText(1), QStringLiteral("【】b-first"));
  QCOMPARE(RowText(2), QStringLiteral("【】b-second"));
  QCOMPARE(RowText(3), QStringLiteral("【】c"));
  // One step of undo brings every copy back where it was.
  Item(W.get(), "U1")->trigger();
  QCOMPARE(Rows(), 6);
  QCOMPARE(RowText(0), QStringLiteral("【G】a-first"));
  QCOMPARE(RowText(2), QStringLiteral("【】a-tagged"));
}

void TDuplicatesDialogTest::removedCopiesLeaveTheEditorAndTheirForms() {
  AddFile(Fixture("copies.json", kCopies));
  // The editor pane and a form are on copies that will go.
  ClickRow(4);
  QTRY_VERIFY(W->EditData->text().contains("a-slash"));
  QPointer<TfrmEditSource> form = W->EditSource(W->Logic().SourceOfRow(2), false);
  QVERIFY(form);
  WhenModal<TfrmDuplicates>([&](TfrmDuplicates* D) {
    Scan(D, TDuplicateMode::Site, TKeepPolicy::First);
    QTest::mouseClick(D->btnRemove, Qt::LeftButton);
  });
  Item(W.get(), "F1")->trigger();
  QCOMPARE(Rows(), 3);
  QVERIFY(!W->EditData->text().contains("a-slash"));
  QTRY_VERIFY(form.isNull());
  for (int i = 0; i < Rows(); ++i) QVERIFY(!RowText(i).contains("a-tagged"));
}

void TDuplicatesDialogTest::exportTheListAndCloseWithoutRemoving() {
  AddFile(Fixture("copies.json", kCopies));
  QString before, none;
  bool exportOff = false;
  WhenModal<TfrmDuplicates>([&](TfrmDuplicates* D) {
    before = D->btnRemove->isEnabled() ? "on" : "off";
    // Address mode: no two addresses are the same text.
    Scan(D, TDuplicateMode::Address, TKeepPolicy::Last);
    none = D->lbSummary->text();
    exportOff = !D->btnExport->isEnabled() && !D->btnRemove->isEnabled();
    QTest::mouseClick(D->btnClose, Qt::LeftButton);
  });
  Item(W.get(), "F1")->trigger();
  QCOMPARE(before, QStringLiteral("off"));
  QCOMPARE(none, QStringLiteral("没有找到重复书源。"));
  QVERIFY(exportOff);

  const QString list = FDir.filePath("sets.txt");
  Prompts.Files.push_back(list);
  WhenModal<TfrmDuplicates>([&](TfrmDuplicates* D) {
    Scan(D, TDuplicateMode::Site, TKeepPolicy::Last);
    QTest::mouseClick(D->btnExport, Qt::LeftButton);
    QTest::keyClick(D, Qt::Key_Escape);
  });
  Item(W.get(), "F1")->trigger();
  QCOMPARE(Prompts.FileTitles.back(), QStringLiteral("导出重复书源列表"));
  QFile f(list);
  QVERIFY(f.open(QIODevice::ReadOnly));
  const QString sets = QString::fromUtf8(f.readAll());
  QVERIFY2(sets.startsWith(QStringLiteral("1. 站点相同：http://a.com\r\n   删除 #1 【G】a-first  http://a.com\r\n")),
           qPrintable(sets));
  QVERIFY2(sets.contains(QStringLiteral("   保留 #5 【】a-slash  http://a.com/\r\n2. 站点相同：http://b.com\r\n")),
           qPrintable(sets));
  QCOMPARE(Rows(), 6);
}

void TDuplicatesDialogTest::refusedWithNothingLoaded() {
  Item(W.get(), "F1")->trigger();
  QCOMPARE(Prompts.Messages.size(), size_t(1));
  QCOMPARE(Prompts.Messages[0].Text, QStringLiteral("书源列表是空的。"));
}

// ---------------------------------------------------------------- merge preview

namespace {

const QByteArray kMine =
    "[{\"bookSourceGroup\":\"G\",\"bookSourceName\":\"mine\",\"bookSourceUrl\":\"http://a.com\","
    "\"ruleBookName\":\"1\",\"lastUpdateTime\":1600000000000},"
    "{\"bookSourceName\":\"b\",\"bookSourceUrl\":\"http://b.com\",\"ruleBookName\":\"1\"}]";
const QByteArray kTheirs =
    "[{\"bookSourceGroup\":\"H\",\"bookSourceName\":\"theirs\",\"bookSourceUrl\":\"http://a.com\","
    "\"ruleBookName\":\"2\",\"lastUpdateTime\":1700000000000},"
    "{\"bookSourceName\":\"c\",\"bookSourceUrl\":\"http://c.com\"},"
    "{\"bookSourceName\":\"b renamed\",\"bookSourceUrl\":\"http://b.com\",\"ruleBookName\":\"1\"}]";

}  // namespace

void TDuplicatesDialogTest::mergePreviewUpdatesKeepingNameAndGroup() {
  AddFile(Fixture("mine.json", kMine));
  Prompts.Files.push_back(Fixture("theirs.json", kTheirs));
  QString counts, changed;
  int newCount = -1, sameCount = -1;
  WhenModal<TfrmMergePreview>([&](TfrmMergePreview* D) {
    counts = D->lbCounts->text();
    newCount = D->lvNew->count();
    sameCount = D->lvIdentical->count();
    changed = D->lvChanged->count() == 1 ? D->lvChanged->item(0)->text() : QString();
    D->cbKeepName->setChecked(true);
    D->cbKeepGroup->setChecked(true);
    QTest::mouseClick(D->btnAddNewUpdate, Qt::LeftButton);
  });
  Item(W.get(), "M1")->trigger();
  QCOMPARE(Prompts.FileTitles.back(), QStringLiteral("合并书源文件"));
  QCOMPARE(counts, QStringLiteral("按书源URL比较：新书源 1 个，有改动 1 个，相同 1 个。"));
  QCOMPARE(newCount, 1);
  QCOMPARE(sameCount, 1);
  QVERIFY2(changed.startsWith(QStringLiteral("【H】theirs  http://a.com    列表中：")), qPrintable(changed));
  QVERIFY2(changed.endsWith(QStringLiteral("（文件中的较新）")), qPrintable(changed));
  QCOMPARE(Rows(), 3);
  QCOMPARE(RowText(0), QStringLiteral("【G】mine"));
  QCOMPARE(QString::fromStdU16String(W->Logic().SourceOfRow(0)->GetString(u"ruleBookName")), QStringLiteral("2"));
  QCOMPARE(RowText(1), QStringLiteral("【】b"));
  QCOMPARE(RowText(2), QStringLiteral("【】c"));
}

void TDuplicatesDialogTest::mergePreviewChoices_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QStringList>("rows");
  QTest::newRow("cancel") << "btnCancel" << QStringList{"【G】mine", "【】b"};
  QTest::newRow("new ones only") << "btnAddNew" << QStringList{"【G】mine", "【】b", "【】c"};
  QTest::newRow("update without keeping") << "btnAddNewUpdate" << QStringList{"【H】theirs", "【】b", "【】c"};
  QTest::newRow("all, as 添加") << "btnAddAll"
                                 << QStringList{"【G】mine", "【】b", "【H】theirs", "【】c", "【】b renamed"};
}

void TDuplicatesDialogTest::mergePreviewChoices() {
  QFETCH(QString, button);
  QFETCH(QStringList, rows);
  AddFile(Fixture("mine.json", kMine));
  Prompts.Files.push_back(Fixture("theirs.json", kTheirs));
  WhenModal<TfrmMergePreview>(
      [&](TfrmMergePreview* D) { QTest::mouseClick(D->findChild<QPushButton*>(button), Qt::LeftButton); });
  Item(W.get(), "M1")->trigger();
  QStringList shown;
  for (int i = 0; i < Rows(); ++i) shown << RowText(i);
  QCOMPARE(shown, rows);
  QVERIFY(Prompts.Errors().isEmpty());
}

void TDuplicatesDialogTest::mergePreviewOfABrokenFileShowsTheError() {
  AddFile(Fixture("mine.json", kMine));
  Prompts.Files.push_back(Fixture("broken.json", "[{\"bookSourceUrl\":"));
  Item(W.get(), "M1")->trigger();
  QCOMPARE(Prompts.Errors().size(), qsizetype(1));
  QCOMPARE(Rows(), 2);
}
