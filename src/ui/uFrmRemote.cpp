#include "ui/uFrmRemote.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/uMainLogic.h"
#include "ui/uUiPrompts.h"

namespace {

String ToStr(const QString& AText) { return String(reinterpret_cast<const char16_t*>(AText.utf16()), AText.size()); }

QString ToQ(const String& AText) {
  return QString::fromUtf16(reinterpret_cast<const char16_t*>(AText.data()), qsizetype(AText.size()));
}

// The session's history file: an existing one to add to, or a new name.
bool ChooseHistoryFile(QWidget* AParent, QString& AFileName) {
  const QString title = QStringLiteral("历史记录");
  if (TUiPrompts::FileHook) return TUiPrompts::FileHook(title, true, AFileName);
  QFileDialog dialog(AParent, title);
  dialog.setObjectName("HistoryDialog1");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  // Choosing an existing history adds to it: no question about replacing.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setNameFilters({QStringLiteral("历史记录 (*.db *.sqlite)"), QStringLiteral("所有文件 (*)")});
  dialog.setDefaultSuffix(QStringLiteral("db"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  AFileName = dialog.selectedFiles().first();
  return true;
}

}  // namespace

TfrmRemoteImport::TfrmRemoteImport(QWidget* AParent) : QDialog(AParent) {
  setObjectName("frmRemoteImport");
  setWindowTitle(QStringLiteral("从网址导入"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("书源文件或书源网址列表的网址 (http/https):"), this));
  edtAddress = new QLineEdit(this);
  edtAddress->setObjectName("edtAddress");
  edtAddress->setMinimumWidth(420);
  edtAddress->setPlaceholderText(QStringLiteral("https://"));
  layout->addWidget(edtAddress);
  chkAnyCertificate = new QCheckBox(QStringLiteral("接受任何证书 (不验证服务器证书)"), this);
  chkAnyCertificate->setObjectName("chkAnyCertificate");
  chkAnyCertificate->setToolTip(QStringLiteral("只在确认网站可信、但证书无法验证时使用"));
  layout->addWidget(chkAnyCertificate);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttons");
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  connect(edtAddress, &QLineEdit::textChanged, this,
          [ok](const QString& AText) { ok->setEnabled(IsRemoteAddress(ToStr(AText.trimmed()))); });
}

QString TfrmRemoteImport::Address() const { return edtAddress->text().trimmed(); }

bool TfrmRemoteImport::AcceptAnyCertificate() const { return chkAnyCertificate->isChecked(); }

void TfrmRemoteImport::Execute(QWidget* AParent, TMainLogic& ALogic) {
  TfrmRemoteImport dialog(AParent);
  if (dialog.exec() != QDialog::Accepted) return;
  const String address = ToStr(dialog.Address());
  const bool any = dialog.AcceptAnyCertificate();
  // In the background under the wait dialog, which can stop it.
  ALogic.RunCommand([&] { ALogic.ImportAddress(address, any); });
}

void AddRunHistoryControls(QWidget* APanel, QBoxLayout* ALayout, const std::function<TMainLogic&()>& ALogic) {
  auto* history = new QPushButton(QStringLiteral("历史记录..."), APanel);
  history->setObjectName("btnHistory");
  history->setCheckable(true);
  history->setToolTip(QStringLiteral("未记录: 选择一个历史记录文件后, 每次校验都记入其中, 并比较与上次的变化"));
  QObject::connect(history, &QPushButton::clicked, APanel, [APanel, history, ALogic] {
    TMainLogic& logic = ALogic();
    QString name = ToQ(logic.HistoryFile());
    if (ChooseHistoryFile(APanel->window(), name)) logic.RunCommand([&] { logic.SetHistoryFile(ToStr(name)); });
    const QString chosen = ToQ(logic.HistoryFile());
    history->setChecked(!chosen.isEmpty());
    if (!chosen.isEmpty()) history->setToolTip(QStringLiteral("历史记录: %1").arg(chosen));
  });
  auto* respond = new QCheckBox(QStringLiteral("写入响应时间"), APanel);
  respond->setObjectName("chkRespondTime");
  respond->setToolTip(QStringLiteral("校验后把响应时间 (respondTime) 写入新格式的书源, 同阅读软件的做法"));
  QObject::connect(respond, &QCheckBox::toggled, APanel, [ALogic](bool AOn) { ALogic().SetWriteRespondTime(AOn); });
  ALayout->addWidget(history);
  ALayout->addWidget(respond);
}
