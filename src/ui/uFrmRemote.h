// 文件 → "从网址导入(&U)...": the address box with its certificate choice;
// and the run panel's "历史记录..." button and "写入响应时间" box.
#pragma once

#include <QDialog>
#include <functional>

class QBoxLayout;
class QCheckBox;
class QLineEdit;
class QPushButton;
class TMainLogic;

class TfrmRemoteImport : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmRemoteImport(QWidget* AParent);
  QString Address() const;
  bool AcceptAnyCertificate() const;

  // Asks for the address; on OK loads it as 添加书源文件 loads a file (errors
  // in the error box), fetched in the background under the wait dialog.
  static void Execute(QWidget* AParent, TMainLogic& ALogic);

  QLineEdit* edtAddress = nullptr;
  QCheckBox* chkAnyCertificate = nullptr;
};

// Adds "历史记录..." (btnHistory: the session's history file, none until
// chosen) and "写入响应时间" (chkRespondTime, off) to the run panel.
void AddRunHistoryControls(QWidget* APanel, QBoxLayout* ALayout, const std::function<TMainLogic&()>& ALogic);
