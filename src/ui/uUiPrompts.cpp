#include "ui/uUiPrompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QUrl>

QMessageBox::StandardButton ShowMessage(const TMessageRequest& ARequest) {
  if (TUiPrompts::MessageHook) return TUiPrompts::MessageHook(ARequest);
  QMessageBox box(ARequest.Icon, ARequest.Title, ARequest.Text, ARequest.Buttons, ARequest.Parent);
  if (ARequest.Default != QMessageBox::NoButton) box.setDefaultButton(ARequest.Default);
  for (const auto& [button, text] : ARequest.ButtonTexts)
    if (QAbstractButton* b = box.button(button)) b->setText(text);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowErrorBox(QWidget* AParent, const QString& AText) {
  ShowMessage({AParent, QMessageBox::Critical, QApplication::applicationName(), AText, QMessageBox::Ok});
}

bool InputQuery(QWidget* AParent, const QString& ACaption, const QString& APrompt, QString& AText) {
  if (TUiPrompts::InputHook) return TUiPrompts::InputHook(ACaption, APrompt, AText);
  bool ok = false;
  const QString answer = QInputDialog::getText(AParent, ACaption, APrompt, QLineEdit::Normal, AText, &ok);
  if (ok) AText = answer;
  return ok;
}

bool ChooseSourceFile(QWidget* AParent, const QString& ATitle, bool ASave, QString& AFileName) {
  if (TUiPrompts::FileHook) return TUiPrompts::FileHook(ATitle, ASave, AFileName);
  QFileDialog dialog(AParent, ATitle);
  dialog.setObjectName(ASave ? "SaveDialog1" : "OpenDialog1");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters({QStringLiteral("书源文件 (*.json *.txt)"), QStringLiteral("所有文件 (*)")});
  // A folder to start in, or a file to start on.
  if (!AFileName.isEmpty()) {
    const QFileInfo start(AFileName);
    if (start.isDir()) {
      dialog.setDirectory(start.absoluteFilePath());
    } else {
      dialog.setDirectory(start.absolutePath());
      if (ASave) dialog.selectFile(start.fileName());
    }
  }
  if (ASave) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  AFileName = dialog.selectedFiles().first();
  return true;
}

bool ChooseReportFile(QWidget* AParent, const QString& ATitle, QString& AFileName) {
  if (TUiPrompts::FileHook) return TUiPrompts::FileHook(ATitle, true, AFileName);
  QFileDialog dialog(AParent, ATitle);
  dialog.setObjectName("ReportDialog1");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters({QStringLiteral("CSV 表格(*.csv)"), QStringLiteral("JSON(*.json)")});
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  AFileName = dialog.selectedFiles().first();
  return true;
}

bool OpenWithDesktop(const QString& AUrl) {
  if (TUiPrompts::OpenUrlHook) return TUiPrompts::OpenUrlHook(AUrl);
  return QDesktopServices::openUrl(QUrl(AUrl));
}

bool InstallQtTranslations() {
  // Qt's own texts (standard buttons, file dialogs) in the program's language.
  auto* translator = new QTranslator(qApp);
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  return true;
}
