// The wait dialog: covers the main window while a batch run or an import
// from an address is active.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class TMainLogic;

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  // Shows the dialog modally unless one exists already; returns when it has closed.
  static void ShowWait(QWidget* AOwner, TMainLogic& ALogic);
  // The run has ended: the dialog closes on its next timer tick.
  static void RequestClose();
  // The dialog while it exists.
  static TForm2* Current() { return Form2; }

  ~TForm2() override;
  // The caption under the bar; a line too wide (a long address) is cut in
  // its middle, the whole text is the tooltip.
  void ShowText(const QString& AText);
  void Button1Click();
  void Timer1Timer();

  QProgressBar* ActivityIndicator1 = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* Button1 = nullptr;
  QTimer* Timer1 = nullptr;

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* AEvent) override;

 private:
  TForm2(QWidget* AOwner, TMainLogic& ALogic);
  // A run or an import is still going.
  bool Busy() const;
  static inline TForm2* Form2 = nullptr;
  TMainLogic& FLogic;
};
