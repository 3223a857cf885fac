// The standard boxes the windows ask with: message boxes, the input box and
// the file dialogs. Each can be answered by a hook instead, so the windows can
// be driven without a person in front of them.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

class QWidget;

struct TMessageRequest {
  QWidget* Parent = nullptr;
  QMessageBox::Icon Icon = QMessageBox::Information;
  QString Title;
  QString Text;
  QMessageBox::StandardButtons Buttons = QMessageBox::Ok;
  QMessageBox::StandardButton Default = QMessageBox::NoButton;  // the button Enter presses
  // Captions in place of the standard ones; hooks answer with the standard button.
  std::vector<std::pair<QMessageBox::StandardButton, QString>> ButtonTexts = {};
};

struct TUiPrompts {
  // When set, these answer instead of showing a box.
  static inline std::function<QMessageBox::StandardButton(const TMessageRequest&)> MessageHook;
  // Returns false for cancel; AText holds the default on entry and the answer on exit.
  static inline std::function<bool(const QString& ACaption, const QString& APrompt, QString& AText)> InputHook;
  // ASave: the save dialog; returns false for cancel.
  static inline std::function<bool(const QString& ATitle, bool ASave, QString& AFileName)> FileHook;
  // Addresses handed to the desktop's default handler.
  static inline std::function<bool(const QString& AUrl)> OpenUrlHook;
};

QMessageBox::StandardButton ShowMessage(const TMessageRequest& ARequest);
// The application's error box.
void ShowErrorBox(QWidget* AParent, const QString& AText);
bool InputQuery(QWidget* AParent, const QString& ACaption, const QString& APrompt, QString& AText);
// The dialogs for book-source files: non-native, so that they behave alike everywhere.
bool ChooseSourceFile(QWidget* AParent, const QString& ATitle, bool ASave, QString& AFileName);
// The save dialog for a check report: CSV or JSON, ".csv" when no extension is typed.
bool ChooseReportFile(QWidget* AParent, const QString& ATitle, QString& AFileName);
bool OpenWithDesktop(const QString& AUrl);
// Loads Qt's own Chinese texts (Debian's Qt translations); false when they are not installed.
bool InstallQtTranslations();
