// Helpers of the window tests: answers for the standard boxes, fixture files.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <array>
#include <deque>
#include <functional>
#include <vector>

#include "ui/uUiPrompts.h"

// Records every box the windows show and answers from queues the test fills.
struct TPromptRecorder {
  std::vector<TMessageRequest> Messages;
  std::deque<QMessageBox::StandardButton> Answers;  // empty: the first button offered
  std::deque<QString> Files;                         // empty: the dialog is cancelled
  std::vector<QString> FileTitles;
  std::deque<QString> Inputs;                        // empty: the input box is cancelled
  std::vector<QString> Urls;

  void Install() {
    TUiPrompts::MessageHook = [this](const TMessageRequest& R) {
      Messages.push_back(R);
      if (!Answers.empty()) {
        auto a = Answers.front();
        Answers.pop_front();
        return a;
      }
      return R.Buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    };
    TUiPrompts::FileHook = [this](const QString& ATitle, bool, QString& AFile) {
      FileTitles.push_back(ATitle);
      if (Files.empty()) return false;
      AFile = Files.front();
      Files.pop_front();
      return true;
    };
    TUiPrompts::InputHook = [this](const QString&, const QString&, QString& AText) {
      if (Inputs.empty()) return false;
      AText = Inputs.front();
      Inputs.pop_front();
      return true;
    };
    TUiPrompts::OpenUrlHook = [this](const QString& AUrl) {
      Urls.push_back(AUrl);
      return true;
    };
  }
  static void Uninstall() {
    TUiPrompts::MessageHook = nullptr;
    TUiPrompts::FileHook = nullptr;
    TUiPrompts::InputHook = nullptr;
    TUiPrompts::OpenUrlHook = nullptr;
  }
  void Clear() { *this = TPromptRecorder(); }
  // Texts of the error boxes shown.
  QStringList Errors() const {
    QStringList out;
    for (const auto& m : Messages)
      if (m.Icon == QMessageBox::Critical) out << m.Text;
    return out;
  }
};

inline QString WriteFile(const QTemporaryDir& ADir, const QString& AName, const QByteArray& AContent) {
  const QString path = ADir.filePath(AName);
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(AContent);
  return path;
}

// A book-source file of sources given as (group, name, url).
inline QByteArray SourcesJson(const std::vector<std::array<const char*, 3>>& ASources) {
  QByteArray out = "[";
  for (size_t i = 0; i < ASources.size(); ++i) {
    if (i) out += ",";
    out += QByteArray("{\"bookSourceGroup\":\"") + ASources[i][0] + "\",\"bookSourceName\":\"" + ASources[i][1] +
           "\",\"bookSourceUrl\":\"" + ASources[i][2] + "\"}";
  }
  return out + "]";
}

// Runs AAction on the first modal dialog of type T that comes up (polling from
// the event loop, so it works while a modal exec is running).
template <typename T>
void WhenModal(std::function<void(T*)> AAction, int ATimeoutMs = 10000) {
  auto* timer = new QTimer(qApp);
  auto started = std::make_shared<QElapsedTimer>();
  auto seen = std::make_shared<QObject*>(nullptr);
  started->start();
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, qApp, [timer, started, seen, AAction, ATimeoutMs] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    // Seen on two ticks in a row: its exec loop runs, so closing it ends the exec.
    if (dialog && dialog->isVisible() && *seen == dialog) {
      timer->stop();
      timer->deleteLater();
      AAction(dialog);
    } else if (started->elapsed() > ATimeoutMs) {
      timer->stop();
      timer->deleteLater();
    }
    *seen = dialog;
  });
  timer->start();
}
