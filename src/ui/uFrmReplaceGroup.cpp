#include "ui/uFrmReplaceGroup.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "support/KivStr.h"

TfrmReplaceGroup::TfrmReplaceGroup(QWidget* AOwner)
    : QDialog(AOwner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
  setObjectName("frmReplaceGroup");
  setWindowTitle(QStringLiteral("替换 - 书源分组"));
  setFixedSize(345, 166);
  // Labels above their boxes: the 289-wide boxes fill the narrow dialog.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 10, 28, 10);
  layout->setSpacing(3);
  auto* findLabel = new QLabel(QStringLiteral("查找内容："), this);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setFixedWidth(289);
  auto* replaceLabel = new QLabel(QStringLiteral("替换内容："), this);
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName("Edit2");
  Edit2->setFixedWidth(289);
  CheckBox1 = new QCheckBox(QStringLiteral("全字匹配"), this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setChecked(true);
  Button1 = new QPushButton(QStringLiteral("确定(&O)"), this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("取消(&C)"), this);
  Button2->setObjectName("Button2");
  Button2->setAutoDefault(false);
  layout->addWidget(findLabel);
  layout->addWidget(Edit1);
  layout->addWidget(replaceLabel);
  layout->addWidget(Edit2);
  layout->addWidget(CheckBox1);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  buttons->addWidget(Button2);
  buttons->addWidget(Button1);
  layout->addLayout(buttons);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

bool TfrmReplaceGroup::Execute(QWidget* AOwner, TReplaceGroupInput& AInput) {
  TfrmReplaceGroup dialog(AOwner);
  FCurrent = &dialog;
  const bool ok = dialog.exec() == QDialog::Accepted;
  FCurrent = nullptr;
  if (!ok) return false;
  AInput.Find = Trim(dialog.Edit1->text().toStdU16String());
  AInput.Replace = Trim(dialog.Edit2->text().toStdU16String());
  AInput.WholeWord = dialog.CheckBox1->isChecked();
  return true;
}
