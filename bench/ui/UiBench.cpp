// ui_bench [count]: the main window with many sources loaded (offscreen).
// Prints how long a typed filter character takes until the list is repainted,
// and how long one scroll step with repaint takes.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QMetaObject>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "http/KivHttpClient.h"
#include "ui/uFrmMain.h"
#include "workers/KivWorker.h"

namespace {

QByteArray MakeSources(int ACount) {
  static const char* const kGroups[] = {"VIP书源", "普通", "优质", "发现", "搜索快", "漫画", "A级", "83d"};
  QByteArray out;
  out.reserve(ACount * 220);
  out += "[";
  for (int i = 0; i < ACount; ++i) {
    if (i) out += ",\n";
    out += "{\"bookSourceGroup\": \"" + QByteArray(kGroups[i % 8]) + "\", \"bookSourceName\": \"书源" +
           QByteArray::number(i) + "\", \"bookSourceUrl\": \"http://site" + QByteArray::number(i) +
           ".example/\", \"ruleSearchUrl\": \"http://site" + QByteArray::number(i) +
           ".example/s?q=searchKey\", \"ruleBookContent\": \"id.content@textNodes\"}";
  }
  return out + "]";
}

struct TStats {
  std::vector<double> Ms;
  void Add(double AMs) { Ms.push_back(AMs); }
  void Print(const char* AWhat) {
    std::sort(Ms.begin(), Ms.end());
    double sum = 0;
    for (double v : Ms) sum += v;
    std::printf("%-44s n=%3zu  median %7.2f ms  mean %7.2f ms  max %7.2f ms\n", AWhat, Ms.size(), Ms[Ms.size() / 2],
                sum / double(Ms.size()), Ms.back());
  }
};

double MsSince(const QElapsedTimer& AClock) { return double(AClock.nsecsElapsed()) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
  InitHttpClient();
  QApplication app(argc, argv);
  KivWorkerInit();
  SetMainThreadWaker([] { QMetaObject::invokeMethod(qApp, [] { PumpMessages(); }, Qt::QueuedConnection); });
  {
    QTemporaryDir dir;
    const QString path = dir.filePath("many.json");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(MakeSources(count)) < 0) return 1;
    file.close();

    TForm1 window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    QElapsedTimer clock;
    clock.start();
    window.AddDroppedFiles({path});
    QApplication::processEvents();
    std::printf("sources loaded: %d (%.0f ms to load and show)\n", window.Logic().RowCount(), MsSince(clock));

    QLineEdit* filter = window.bookGroupList->lineEdit();
    auto typeKey = [&](Qt::Key AKey) {
      clock.restart();
      QTest::keyClick(filter, AKey, Qt::NoModifier);
      window.SrcList->viewport()->repaint();
      return MsSince(clock);
    };
    TStats narrow, widen, noMatch;
    for (int round = 0; round < 20; ++round) {
      narrow.Add(typeKey(Qt::Key_V));        // "v": matches the VIP group only
      narrow.Add(typeKey(Qt::Key_I));        // "vi"
      widen.Add(typeKey(Qt::Key_Backspace));   // back to "v"
      widen.Add(typeKey(Qt::Key_Backspace));   // empty: everything
      noMatch.Add(typeKey(Qt::Key_Z));       // nothing matches
      widen.Add(typeKey(Qt::Key_Backspace));
    }
    narrow.Print("filter char typed, list narrowed + repaint");
    widen.Print("filter char deleted, list widened + repaint");
    noMatch.Print("filter char typed, no match + repaint");

    QScrollBar* bar = window.SrcList->verticalScrollBar();
    TStats lines, pages;
    for (int i = 0; i < 200; ++i) {
      clock.restart();
      bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
      window.SrcList->viewport()->repaint();
      lines.Add(MsSince(clock));
    }
    for (int i = 0; i < 200; ++i) {
      clock.restart();
      bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
      window.SrcList->viewport()->repaint();
      pages.Add(MsSince(clock));
    }
    clock.restart();
    bar->setValue(bar->maximum());
    window.SrcList->viewport()->repaint();
    std::printf("jump to the end + repaint: %.2f ms\n", MsSince(clock));
    lines.Print("scroll one line + repaint");
    pages.Print("scroll one page + repaint");
  }
  KivWorkerFinal();
  SetMainThreadWaker({});
  return 0;
}
