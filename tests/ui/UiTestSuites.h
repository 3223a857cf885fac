// The window test suites; each test gets a fresh main window.
#pragma once

#include <QObject>
#include <QTemporaryDir>
#include <memory>

#include "UiTestUtil.h"
#include "ui/uFrmMain.h"

class TWindowFixture : public QObject {
  Q_OBJECT
 protected:
  void OpenWindow();
  void CloseWindow();
  int Rows() const;
  QString RowText(int ARow) const;
  QString Status0() const;
  QString LogText() const;
  void ClickRow(int ARow);
  // Loads a file through the add command.
  void AddFile(const QString& APath);
  QString Fixture(const QString& AName, const QByteArray& AContent) { return WriteFile(FDir, AName, AContent); }
  String SourceJson(int ARow);

  std::unique_ptr<TForm1> W;
  TPromptRecorder Prompts;
  QTemporaryDir FDir;
};

class TMainWindowTest : public TWindowFixture {
  Q_OBJECT
 private slots:
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }
  void startsEmptyWithItsControls();
  void menusCarryTheirCaptions();
  void openAddThroughTheRealFileDialog();
  void openReplacesAndFailingOpenKeepsNothingMerged();
  void filterTypingAndPicking();
  void editorMenuStatesAndCtrlS();
  void copyAndAdd();
  void deleteKeyAndClear();
  void dropThreeFilesSecondInvalid();
  void dropOnPlaceholder();
  void pasteFilesFromClipboard_data();
  void pasteFilesFromClipboard();
  void testEditorText_data();
  void testEditorText();
  void logLinesAreNotEdits();
  void errorBoxAndWindowStaysUsable();
};

class TDialogsTest : public TWindowFixture {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }
  void editDialogFillsAndConfirms();
  void editDialogNumbersAndMemo();
  void editDialogNewSource();
  void editDialogTestUsesFormValues();
  void twoDialogsLastConfirmedWins();
  void dialogClosesWhenItsSourceLeaves_data();
  void dialogClosesWhenItsSourceLeaves();
  void dialogSizeRememberedAndWheelScrolls();
  void replaceGroupDialog_data();
  void replaceGroupDialog();
  void waitDialogWithoutStagesUntilCancel();
  void batchRunDedupesAndMarksDeadSources();
  void cancelTwiceStopsTheRun();
  void checkReportAfterACheckRun();
  void dedupeClosesDialogOnRemovedCopy();

 private:
  struct TServers;
  TServers* FServers = nullptr;
};

class TWorkSafetyTest : public TWindowFixture {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }
  void editorFollowsBulkChanges();
  void formWritesOnlyWhatChanged();
  void nonStandardJsonAsksBeforeSaving();
  void newSourceNeedsAnAddress();
  void currentRowIsTheEditorsSource();
  void workIsNotThrownAwayUnasked();
  void undoRedoEveryOperation_data();
  void undoRedoEveryOperation();
  void undoKeysInTheEditorPaneUndoTyping();
  void progressNeverPassesTheTotal();
  void guideIsBuiltInAndAboutShowsTheVersion();

 private:
  struct TServers;
  TServers* FServers = nullptr;
};

class TDuplicatesDialogTest : public TWindowFixture {
  Q_OBJECT
 private slots:
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }
  void changeTheKeptCopyAndLeaveASetAlone();
  void removedCopiesLeaveTheEditorAndTheirForms();
  void exportTheListAndCloseWithoutRemoving();
  void refusedWithNothingLoaded();
  void mergePreviewUpdatesKeepingNameAndGroup();
  void mergePreviewChoices_data();
  void mergePreviewChoices();
  void mergePreviewOfABrokenFileShowsTheError();
};

class TConvertMenuTest : public TWindowFixture {
  Q_OBJECT
 private slots:
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }
  void convertsTheSelectedSourcesAndUndoes();
};

class TStartupFilesTest : public TWindowFixture {
  Q_OBJECT
 private slots:
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }
  void filesFromArguments_data();
  void filesFromArguments();
  void loadsInOrderAfterTheWindowShows();
  void stopsAtTheFirstFailingFile_data();
  void stopsAtTheFirstFailingFile();
  void relativePathLoadsFromTheCurrentFolder();
};

class TEditSource3Test : public TWindowFixture {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }
  void untouchedFormWritesNoByte();
  void ruleMemberKeepsTheRulesForm_data();
  void ruleMemberKeepsTheRulesForm();
  void headerAndExploreKeepTheirForm_data();
  void headerAndExploreKeepTheirForm();
  void badHeaderIsRefused_data();
  void badHeaderIsRefused();
  void storedBadHeaderLeftAloneIsNoFault();
  void numbersAndSwitchesKeepTheirTypes();
  void formatDecidesTheForm_data();
  void formatDecidesTheForm();
  void newSourceAsksTheFormat();
  void testButtonUsesTheFormsValues();

 private:
  struct TServers;
  TServers* FServers = nullptr;
};

class TComfortTest : public TWindowFixture {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init() {
    OpenWindow();
    W->ClearLog();
  }
  void cleanup() { CloseWindow(); }
  void tableSortsTheViewByEachColumn_data();
  void tableSortsTheViewByEachColumn();
  void bothViewsShareRowsAndSelection();
  void everyOperationSaysWhatHappened_data();
  void everyOperationSaysWhatHappened();
  void runSaysItsCountsAndTheTableShowsVerdicts();
  void stoppedRunSaysHowFarItCame();
  void testRunsOnThePoolAndASecondPressCancels();
  void networkFailureNamesItsCause();
  void groupsWithCountsAndExactPicks();
  void filterChangeScrollsToTopAndTheFirstClickWorks();
  void menusShowTheirKeys_data();
  void menusShowTheirKeys();
  void keysMoveAndAct();
  void workerCountIsOneToAThousand_data();
  void workerCountIsOneToAThousand();
  void fileDialogsOfferTextFilesAndStartInTheLastFolder();
  void qtSpeaksChinese();
  void settingsOutliveTheWindowButNotTheCollection();
  void fileThatIsNotJsonIsNamed();

 private:
  struct TServers;
  TServers* FServers = nullptr;
};

class TRemoteHistoryTest : public TWindowFixture {
  Q_OBJECT
 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init() { OpenWindow(); }
  void cleanup() { CloseWindow(); }
  void controlsAreThereAndOffByDefault();
  void importThroughTheAddressBox();
  void changesOfTheLastCheckAreFilterViews();
  void respondTimeOnlyWhenAsked();
  void importRunsInTheBackground();
  void importCancelledFromTheWaitDialog();

 private:
  void RunCheck();
  void OpenGate();
  struct TServers;
  TServers* FServers = nullptr;
};
