#include "cli/uConsoleWindow.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "workers/KivWorker.h"

namespace {

constexpr int64_t kStopGraceMs = 1000;
constexpr int kInterruptedExit = 1;  // a runtime error: nothing written

// Columns a code unit takes on a terminal: CJK and full-width forms take two.
int ColumnsOf(char16_t C) {
  if (C >= 0xDC00 && C <= 0xDFFF) return 0;  // second half of a pair, counted with the first
  if (C >= 0xD800 && C <= 0xDBFF) return 2;
  if ((C >= 0x1100 && C <= 0x115F) || (C >= 0x2E80 && C <= 0xA4CF) || (C >= 0xAC00 && C <= 0xD7A3) ||
      (C >= 0xF900 && C <= 0xFAFF) || (C >= 0xFE30 && C <= 0xFE4F) || (C >= 0xFF00 && C <= 0xFF60) ||
      (C >= 0xFFE0 && C <= 0xFFE6))
    return 2;
  return C < 0x20 ? 0 : 1;
}

// The text cut to at most AColumns terminal columns.
String FitColumns(const String& AText, int AColumns) {
  int used = 0;
  for (size_t i = 0; i < AText.size(); ++i) {
    const int w = ColumnsOf(AText[i]);
    if (used + w > AColumns) return AText.substr(0, i);
    used += w;
  }
  return AText;
}

}  // namespace

String EscapeControls(const String& AText) {
  String out;
  out.reserve(AText.size());
  for (size_t i = 0; i < AText.size(); ++i) {
    const char16_t c = AText[i];
    // Line breaks stay line breaks.
    if (c == u'\n' || (c == u'\r' && i + 1 < AText.size() && AText[i + 1] == u'\n')) {
      if (c == u'\n') out += c;
      continue;
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", unsigned(c));
      out += FromUtf8(buf);
    } else {
      out += c;
    }
  }
  return out;
}

TConsoleWindow::TConsoleWindow(bool AQuiet, bool ATerminal, std::FILE* AErr)
    : FQuiet(AQuiet), FTerminal(ATerminal), FErr(AErr) {}

void TConsoleWindow::Say(const std::string& AUtf8Line) {
  if (FQuiet) return;
  EraseProgressLine();
  std::fprintf(FErr, "%s\n", AUtf8Line.c_str());
  std::fflush(FErr);
}

void TConsoleWindow::ShowError(const String& AMessage) {
  EraseProgressLine();
  std::fprintf(FErr, "tanvork-cli: %s\n", ToUtf8(FTerminal ? EscapeControls(AMessage) : AMessage).c_str());
  std::fflush(FErr);
}

void TConsoleWindow::ShowWarning(const String& AMessage) {
  // Even when quiet: it is about the data, not about progress.
  EraseProgressLine();
  std::fprintf(FErr, "tanvork-cli: warning: %s\n", ToUtf8(FTerminal ? EscapeControls(AMessage) : AMessage).c_str());
  std::fflush(FErr);
}

void TConsoleWindow::AppendLog(const String& ALine) {
  // On a terminal the progress line shows the same messages.
  if (FQuiet || FTerminal) return;
  std::fprintf(FErr, "%s\n", ToUtf8(ALine).c_str());
  std::fflush(FErr);
}

void TConsoleWindow::SetProgress(int AMin, int AMax, int APosition) {
  FProgressMin = AMin;
  FProgressMax = AMax;
  FProgressPos = APosition;
}

void TConsoleWindow::SetStatusText(TStatusPanel APanel, const String& AText) {
  // The run's panel: message, counts, percent and elapsed time.
  if (APanel == spRunState && FWaiting && FTerminal && !FQuiet) DrawProgressLine(AText);
}

int TConsoleWindow::TerminalWidth() const {
  winsize ws{};
  if (::ioctl(::fileno(FErr), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

void TConsoleWindow::DrawProgressLine(const String& AStatus) {
  // Ten redraws a second are plenty; the timer ticks more often.
  const int64_t now = GetTimestamp();
  if (FLineShown && FLastDraw >= 0 && now - FLastDraw < 100) return;
  FLastDraw = now;
  String line;
  if (FProgressVisible && FProgressMax > FProgressMin) {
    constexpr int kBar = 20;
    const int pos = std::clamp(FProgressPos - FProgressMin, 0, FProgressMax - FProgressMin);
    const int filled = int(int64_t(pos) * kBar / (FProgressMax - FProgressMin));
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on the chained form.
    line.assign(1, u'[').append(size_t(filled), u'#').append(size_t(kBar - filled), u'.').append(u"] ");
  }
  line += AStatus;
  // One column short of the width, so the cursor never wraps.
  line = FitColumns(line, TerminalWidth() - 1);
  std::fprintf(FErr, "\r\x1b[K%s", ToUtf8(line).c_str());
  std::fflush(FErr);
  FLineShown = true;
}

void TConsoleWindow::EraseProgressLine() {
  if (!FLineShown) return;
  std::fprintf(FErr, "\r\x1b[K");
  std::fflush(FErr);
  FLineShown = false;
}

bool TConsoleWindow::ExecuteRun(TMainLogic& ALogic, const TRunOptions& AOptions,
                                const std::atomic<bool>* AInterrupt) {
  FWaiting = true;
  bool stopSent = false;
  int64_t stopAt = 0;
  ALogic.ExecuteRun(AOptions, [&] {
    if (FTimerOn) ALogic.DispLog();
    // The first interrupt asks the run to stop, as the wait dialog's cancel button does.
    if (AInterrupt && AInterrupt->load() && !stopSent && ALogic.RunState() == rsRunning) {
      stopSent = true;
      stopAt = GetTimestamp();
      ALogic.StopRun();
    }
    // A probe in flight only ends at its time-out. Nothing has been written
    // during the run, so leaving at once loses nothing.
    if (stopSent && GetTimestamp() - stopAt > kStopGraceMs) {
      ShowError(u"interrupted, nothing written");
      std::_Exit(kInterruptedExit);
    }
  });
  FWaiting = false;
  EraseProgressLine();
  return stopSent;
}
