// The source editor dialog: one book source in a form, modeless, several at once.
// Sources of the current format (or mixed ones) get pages of their own members;
// older and bare sources the flat form of 28 fields.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "app/uBookSourceBean.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QTimer;
class QWidget;
class TMainLogic;
class TSourceTestJob;

// Called on OK with the source and what writes the form's changes into it.
using TNotifyEventA = std::function<void(JSONObject* ASource, const std::function<void(JSONObject*)>& AApply)>;

class TfrmEditSource : public QDialog {
  Q_OBJECT
 public:
  // AGroups: the items of the main window's group filter box.
  TfrmEditSource(QWidget* AParent, TMainLogic& ALogic, QStringList AGroups);
  ~TfrmEditSource() override;

  // Asks which format a new source is in (the current one preselected) and
  // returns the new source, or nothing when the user cancels.
  static JSONObject* AskNewSource(QWidget* AParent);
  // A new source of the current format: the members the form shows as
  // switches and numbers, with the values they have when absent.
  static JSONObject* NewFormat3Source();

  // The source being edited; with AOwned the dialog frees it unless it is
  // confirmed. Its format decides the form's pages.
  void SetData(JSONObject* AData, bool AOwned);
  JSONObject* Data() const { return FData; }
  TNotifyEventA CallBack;
  // The form shows the current format's pages.
  bool Format3() const { return FFormat3; }

  // Writes into ASource what the user changed in the form since it was
  // shown: untouched fields stay as they are, absent ones stay absent.
  void ApplayEdit(TBookSourceItem ASource);
  // The member 启用书源 shows: "enabled" for sources that use it, else "enable".
  const QString& EnableKey() const { return FEnableKey; }
  // The source is leaving the collection: forget it and close, writing nothing.
  void Detach();
  // The inputs that carry a JSON key, in creation order. A rule member's key
  // is "rule.member" (e.g. "ruleSearch.bookList").
  const std::vector<QWidget*>& Inputs() const { return FInputs; }
  QWidget* InputOf(const QString& AKey) const;
  static QString KeyOf(const QWidget* AInput);
  // The size every new dialog starts with.
  static QSize RememberedSize();

  void Button1Click();
  void Button2Click();
  // Starts the test on the worker pool, or cancels the one running.
  void Button3Click();
  bool TestRunning() const { return FTestJob != nullptr; }

 protected:
  void showEvent(QShowEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void FormCreate();
  void BuildBody(bool AFormat3);
  void BuildFormat2Body(QWidget* AParent);
  void BuildFormat3Body(QWidget* AParent);
  void FormShow();
  void FillFormat3();
  void ApplyFormat3(JSONObject* ASource);
  // What keeps OK and the test from using the form, or "".
  QString FormError() const;
  void WatchWheel(QWidget* AWidget);
  QScrollArea* CurrentScrollArea() const;
  static QString TextOf(const QWidget* AInput);
  void PollTest();
  void EndTest();

 public:
  QScrollArea* ScrollBox1 = nullptr;     // the flat form
  QTabWidget* PageControl1 = nullptr;    // the current format's pages
  QLabel* lblMixed = nullptr;            // says the flat members stay as they are
  QWidget* Panel1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QLineEdit* Edit27 = nullptr;
  QLineEdit* Edit28 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;

 private:
  TMainLogic& FLogic;
  QStringList FGroups;
  JSONObject* FData = nullptr;
  bool FOwnsData = false;
  bool FFormat3 = false;
  QWidget* FBody = nullptr;
  QLabel* FWeightLabel = nullptr;
  QLabel* FSerialLabel = nullptr;
  std::vector<QWidget*> FInputs;
  // What the form showed, to tell what the user changed.
  QStringList FShownTexts;
  QString FShownWeight, FShownSerial, FEnableKey = QStringLiteral("enable");
  bool FShownEnabled = false;
  // Identity of the wheel turn last scrolled for: its copies climbing the parents count once.
  qint64 FWheelStamp = -1;
  QPoint FWheelDelta, FWheelPos;
  std::unique_ptr<TSourceTestJob> FTestJob;
  QTimer* FTestTimer = nullptr;
  QStringList FTestLines;
};
