// ui_bench [count]: the main window with many sources loaded (offscreen).
// Prints how long a typed filter character takes until the list is repainted,
// how long one scroll step with repaint takes, and for the table view: switching
// views, sorting by each column, picking a group, typing a filter character.
#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QComboBox>
#include <QHeaderView>
#include <QTableView>
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
#include <functional>
#include <string>
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
    std::printf("%-50s n=%3zu  median %7.2f ms  mean %7.2f ms  max %7.2f ms\n", AWhat, Ms.size(), Ms[Ms.size() / 2],
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
  // The window's remembered settings: a throw-away place, starting from the defaults.
  QStandardPaths::setTestModeEnabled(true);
  QApplication::setOrganizationName(QStringLiteral("tanvork-tools"));
  QSettings().clear();
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

    // The table view: switching, sorting by each column, picking a group,
    // typing a filter character; each until the shown view has repainted.
    auto repaintShown = [&] {
      window.CurrentView()->viewport()->repaint();
      if (window.TableViewShown()) window.SrcTable->horizontalHeader()->viewport()->repaint();
    };
    auto timed = [&](const std::function<void()>& AAction) {
      clock.restart();
      AAction();
      repaintShown();
      return MsSince(clock);
    };
    TStats toTable, toList;
    for (int round = 0; round < 10; ++round) {
      toTable.Add(timed([&] { window.SetTableView(true); }));
      toList.Add(timed([&] { window.SetTableView(false); }));
    }
    toTable.Print("switch to the table + repaint");
    toList.Print("switch to the list + repaint");
    window.SetTableView(true);
    QHeaderView* header = window.SrcTable->horizontalHeader();
    static const char* const kColumns[] = {"name", "group", "address", "format", "enabled", "verdict", "reason", "ms"};
    for (int c = 1; c < window.FListModel->columnCount(); ++c) {
      TStats sort;
      for (int round = 0; round < 5; ++round) {
        sort.Add(timed([&] { header->setSortIndicator(c, Qt::AscendingOrder); }));
        sort.Add(timed([&] { header->setSortIndicator(c, Qt::DescendingOrder); }));
      }
      const std::string what = std::string("table sorted by ") + kColumns[c - 1] + " + repaint";
      sort.Print(what.c_str());
    }
    header->setSortIndicator(-1, Qt::AscendingOrder);
    TStats pick, typed;
    QComboBox* box = window.bookGroupList;
    for (int round = 0; round < 10; ++round) {
      pick.Add(timed([&] { box->setCurrentIndex(1 + round % (box->count() - 1)); }));
      pick.Add(timed([&] { box->setCurrentIndex(0); }));
    }
    pick.Print("group picked (or 全部) in the table + repaint");
    for (int round = 0; round < 10; ++round) {
      typed.Add(timed([&] { QTest::keyClick(filter, Qt::Key_V, Qt::NoModifier); }));
      typed.Add(timed([&] { QTest::keyClick(filter, Qt::Key_Backspace, Qt::NoModifier); }));
    }
    typed.Print("filter char typed/deleted in the table + repaint");
  }
  KivWorkerFinal();
  SetMainThreadWaker({});
  return 0;
}
