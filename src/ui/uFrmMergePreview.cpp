#include "ui/uFrmMergePreview.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/uDuplicateSets.h"
#include "app/uMainLogic.h"
#include "app/uSourceCollection.h"
#include "json/KivJson.h"
#include "ui/uUiPrompts.h"

namespace {

QString Q(const String& S) { return QString::fromStdU16String(S); }

QListWidget* NewList(QWidget* AParent, const char* AName) {
  auto* list = new QListWidget(AParent);
  list->setObjectName(AName);
  list->setUniformItemSizes(true);
  return list;
}

QString ChangedText(const TMergeItem& AItem) {
  const QString newer = AItem.IncomingTime > AItem.ExistingTime   ? QStringLiteral("文件中的较新")
                        : AItem.IncomingTime < AItem.ExistingTime ? QStringLiteral("列表中的较新")
                                                                  : QStringLiteral("更新时间相同");
  return QStringLiteral("%1    列表中：%2，文件中：%3（%4）")
      .arg(Q(DuplicateMemberText(AItem.Incoming)), Q(UpdateTimeText(AItem.ExistingTime)),
           Q(UpdateTimeText(AItem.IncomingTime)), newer);
}

}  // namespace

TfrmMergePreview::TfrmMergePreview(QWidget* AOwner, const TMergePreview& APreview)
    : QDialog(AOwner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint) {
  setObjectName("frmMergePreview");
  setWindowTitle(QStringLiteral("合并书源文件"));
  resize(760, 500);
  auto* layout = new QVBoxLayout(this);
  const int news = APreview.Count(TMergeKind::New), changed = APreview.Count(TMergeKind::Changed),
            same = APreview.Count(TMergeKind::Identical);
  QString counts = QStringLiteral("按书源URL比较：新书源 %1 个，有改动 %2 个，相同 %3 个。").arg(news).arg(changed).arg(same);
  if (APreview.Superseded > 0)
    counts += QStringLiteral("文件中有 %1 个重复的书源URL，以最后一个为准。").arg(APreview.Superseded);
  lbCounts = new QLabel(counts, this);
  lbCounts->setObjectName("lbCounts");
  lbCounts->setWordWrap(true);
  layout->addWidget(lbCounts);

  Tabs = new QTabWidget(this);
  Tabs->setObjectName("Tabs");
  lvNew = NewList(Tabs, "lvNew");
  lvChanged = NewList(Tabs, "lvChanged");
  lvIdentical = NewList(Tabs, "lvIdentical");
  for (const TMergeItem& item : APreview.Items) {
    switch (item.Kind) {
      case TMergeKind::New:
        lvNew->addItem(Q(DuplicateMemberText(item.Incoming)));
        break;
      case TMergeKind::Changed:
        lvChanged->addItem(ChangedText(item));
        break;
      case TMergeKind::Identical:
        lvIdentical->addItem(Q(DuplicateMemberText(item.Incoming)));
        break;
    }
  }
  Tabs->addTab(lvNew, QStringLiteral("新书源 (%1)").arg(news));
  Tabs->addTab(lvChanged, QStringLiteral("有改动 (%1)").arg(changed));
  Tabs->addTab(lvIdentical, QStringLiteral("相同 (%1)").arg(same));
  layout->addWidget(Tabs, 1);

  auto* keep = new QHBoxLayout();
  keep->addWidget(new QLabel(QStringLiteral("更新时保留列表中的："), this));
  cbKeepName = new QCheckBox(QStringLiteral("名称"), this);
  cbKeepName->setObjectName("cbKeepName");
  cbKeepGroup = new QCheckBox(QStringLiteral("分组"), this);
  cbKeepGroup->setObjectName("cbKeepGroup");
  cbKeepEnabled = new QCheckBox(QStringLiteral("启用状态"), this);
  cbKeepEnabled->setObjectName("cbKeepEnabled");
  cbKeepOrder = new QCheckBox(QStringLiteral("排序号"), this);
  cbKeepOrder->setObjectName("cbKeepOrder");
  for (QCheckBox* c : {cbKeepName, cbKeepGroup, cbKeepEnabled, cbKeepOrder}) keep->addWidget(c);
  keep->addStretch(1);
  layout->addLayout(keep);

  auto* buttons = new QHBoxLayout();
  btnAddAll = new QPushButton(QStringLiteral("全部添加(&A)"), this);
  btnAddAll->setObjectName("btnAddAll");
  btnAddNew = new QPushButton(QStringLiteral("只添加新书源(&N)"), this);
  btnAddNew->setObjectName("btnAddNew");
  btnAddNewUpdate = new QPushButton(QStringLiteral("添加新书源并更新有改动的(&U)"), this);
  btnAddNewUpdate->setObjectName("btnAddNewUpdate");
  btnCancel = new QPushButton(QStringLiteral("取消(&C)"), this);
  btnCancel->setObjectName("btnCancel");
  for (QPushButton* b : {btnAddAll, btnAddNew, btnAddNewUpdate, btnCancel}) b->setAutoDefault(false);
  btnAddNewUpdate->setEnabled(changed > 0 || news > 0);
  btnAddNew->setEnabled(news > 0);
  buttons->addWidget(btnAddAll);
  buttons->addStretch(1);
  buttons->addWidget(btnAddNew);
  buttons->addWidget(btnAddNewUpdate);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons);
  connect(btnAddAll, &QPushButton::clicked, this, [this] { Choose(mcAddAll); });
  connect(btnAddNew, &QPushButton::clicked, this, [this] { Choose(mcAddNew); });
  connect(btnAddNewUpdate, &QPushButton::clicked, this, [this] { Choose(mcAddNewUpdate); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmMergePreview::Choose(TChoice AChoice) {
  FChoice = AChoice;
  accept();
}

TKeepFields TfrmMergePreview::KeepFields() const {
  TKeepFields keep;
  keep.Name = cbKeepName->isChecked();
  keep.Group = cbKeepGroup->isChecked();
  keep.Enabled = cbKeepEnabled->isChecked();
  keep.Order = cbKeepOrder->isChecked();
  return keep;
}

void TfrmMergePreview::Execute(QWidget* AOwner, TMainLogic& ALogic) {
  if (ALogic.RunState() != rsIdle) {
    ShowMessage({AOwner, QMessageBox::Information, QStringLiteral("提示"),
                 QStringLiteral("正在处理书源，请等处理结束后再合并。"), QMessageBox::Ok});
    return;
  }
  QString name;
  if (!ChooseSourceFile(AOwner, QStringLiteral("合并书源文件"), false, name)) return;
  const String fileName = name.toStdU16String();
  std::unique_ptr<JSONArray> loaded;
  TMergePreview preview;
  if (!ALogic.RunCommand([&] {
        loaded = TSourceCollection::LoadFile(fileName);
        preview = ClassifyMerge(SourcesOf(ALogic.Sources()), FileSources(*loaded));
      }))
    return;
  // Modal: the preview names the collection's sources until the merge.
  TfrmMergePreview dialog(AOwner, preview);
  dialog.exec();
  switch (dialog.Choice()) {
    case mcAddAll:
      // Exactly what 添加书源文件 does with the file.
      ALogic.RunCommand([&] { ALogic.AddSrcFile(fileName); });
      break;
    case mcAddNew:
    case mcAddNewUpdate: {
      const TMergeAction action =
          dialog.Choice() == mcAddNew ? TMergeAction::AddNew : TMergeAction::AddNewUpdateChanged;
      const TKeepFields keep = dialog.KeepFields();
      ALogic.RunCommand([&] {
        const TMergeCounts counts = ApplyMerge(ALogic, *loaded, preview, action, keep);
        ALogic.Log(Format(u"合并书源文件：添加 %d 个，更新 %d 个，未变 %d 个", counts.Added, counts.Updated,
                          counts.Unchanged));
      });
      break;
    }
    case mcCancel:
      break;
  }
}
