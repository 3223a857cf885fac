// Undo and redo of collection operations, the collection's saved state and
// the questions before work is dropped.
#include <gtest/gtest.h>

#include <functional>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "HttpTestServers.h"
#include "app/uBookSourceBean.h"
#include "app/uUndoStack.h"
#include "json/KivJson.h"

namespace {

// A window and the logic over it.
struct TSession {
  FakeMainWindow win;
  std::unique_ptr<TMainLogic> logic;
  TSession() {
    logic = std::make_unique<TMainLogic>(win);
    win.Logic = logic.get();
    logic->SetCheckTimeout(2000);
    logic->NotifyListChange(lcSourcesChanged);
  }
  ~TSession() { logic.reset(); }
};

class UndoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ClearProxyEnvironment();
    server = new TLocalHttpServer();
    server->Server().Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
    server->Server().Get("/err", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    server->Start();
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override { Fresh(); }
  void TearDown() override { session.reset(); }
  void Fresh() {
    session.reset();
    session = std::make_unique<TSession>();
    logic = session->logic.get();
  }
 public:
  // What an export writes now.
  std::string Bytes() {
    logic->Sources().Export(dir.Name("probe.json"));
    return dir.Read("probe.json");
  }
  std::vector<String> Names() {
    std::vector<String> r;
    for (int i = 0; i < logic->RowCount(); ++i) r.push_back(logic->RowText(i));
    return r;
  }
  static std::string U(const std::string& APath) { return server->Url(APath); }
  // Five sources: a duplicate pair (b), one without a group member, nested members.
  std::string Sample() {
    return "[" + Src("b", U("/ok?b"), "A; 失效", "\"weight\":3,\"ruleToc\":{\"k\":[1,2]}") + "," +
           Src("a", U("/err?a"), "B") + "," + Src("c", U("/err?c")) + "," + Src("b copy", U("/ok?b"), "C", "\"ruleToc\":{\"k\":[1,2]}") + "," +
           Src("d", U("/ok?d"), "A,B") + "]";
  }

 public:  // the operations of the table below reach in
  static TLocalHttpServer* server;
  std::unique_ptr<TSession> session;
  TMainLogic* logic = nullptr;
  TempDir dir;
};
TLocalHttpServer* UndoTest::server = nullptr;

// Every kind of collection operation, undone and redone: the export is the
// same byte for byte as before and after the operation.
TEST_F(UndoTest, EveryOperationUndoesAndRedoesToTheSameBytes) {
  struct TCase {
    const char* Kind;
    std::function<void(UndoTest&)> Do;
  };
  const TCase cases[] = {
      {"delete",
       [](UndoTest& t) {
         t.session->win.Selected = {1, 3};
         t.session->win.YesNoAnswers = {true};
         t.logic->RemoveSelected();
       }},
      {"clear",
       [](UndoTest& t) {
         t.session->win.SaveAnswers = {TSaveAnswer::No};
         t.logic->ClearSources();
       }},
      {"open", [](UndoTest& t) { t.logic->OpenSrcFile(t.dir.Write("other.json", "[" + Src("x", "http://x/") + "]")); }},
      {"add", [](UndoTest& t) { t.logic->AddSrcFile(t.dir.Write("more.json", "[" + Src("y", "http://y/", "Y") + "]")); }},
      {"drop",
       [](UndoTest& t) {
         t.logic->AddFiles({t.dir.Write("d1.json", "[" + Src("y", "http://y/") + "]"),
                            t.dir.Write("d2.json", "[" + Src("z", "http://z/") + "]")});
       }},
      {"copy and add",
       [](UndoTest& t) {
         t.session->win.CurrentRow = 1;
         t.session->win.Names = {u"a2"};
         t.logic->CopyAndAdd();
       }},
      {"editor save",
       [](UndoTest& t) {
         t.session->win.CurrentRow = 0;
         t.logic->LoadIntoEditor();
         t.session->win.Editor = u"{\"bookSourceName\": \"b2\", \"bookSourceUrl\": \"http://b2/\", \"extra\": [true, null]}";
         t.logic->EditorChanged();
         t.logic->SaveEdit();
       }},
      {"form OK on a source",
       [](UndoTest& t) {
         t.logic->EditorDialogResult(t.logic->SourceOfRow(2), [](JSONObject* s) {
           s->SetString(u"bookSourceName", u"c2");
           s->SetString(u"loginUrl", u"http://login/");
         });
       }},
      {"form OK on a new source",
       [](UndoTest& t) {
         t.logic->EditorDialogResult(new JSONObject(),
                                     [](JSONObject* s) { s->SetString(u"bookSourceUrl", u"http://new/"); });
       }},
      {"sort by name", [](UndoTest& t) { t.logic->SortByName(); }},
      {"sort by group", [](UndoTest& t) { t.logic->SortByGroup(); }},
      {"group rename", [](UndoTest& t) { t.logic->ReplaceGroups({u"A", u"甲", true}); }},
      {"group text replaced", [](UndoTest& t) { t.logic->ReplaceGroups({u"b", u"乙", false}); }},
      {"duplicate removal",
       [](UndoTest& t) {
         TRunOptions options;
         options.RemoveRepeat = true;
         options.RealDedupe = true;
         options.CheckSources = false;
         t.logic->ExecuteRun(options);
       }},
      {"marks of a check run",
       [](UndoTest& t) {
         TRunOptions options;
         options.RemoveRepeat = false;
         options.CheckSources = true;
         options.WorkerCount = u"4";
         t.logic->ExecuteRun(options);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Kind);
    Fresh();
    logic->AddSrcFile(dir.Write("sample.json", Sample()));
    const std::string before = Bytes();
    EXPECT_FALSE(logic->CanUndo() && logic->UndoCaption() != u"添加书源文件");
    c.Do(*this);
    const std::string after = Bytes();
    ASSERT_NE(after, before);
    ASSERT_TRUE(logic->CanUndo());
    EXPECT_FALSE(logic->CanRedo());
    EXPECT_TRUE(logic->Undo());
    EXPECT_EQ(Bytes(), before);
    EXPECT_TRUE(logic->CanRedo());
    EXPECT_TRUE(logic->Redo());
    EXPECT_EQ(Bytes(), after);
    EXPECT_TRUE(logic->Undo());
    EXPECT_EQ(Bytes(), before);
    // Further back: the file added in the first place.
    EXPECT_EQ(logic->UndoCaption(), u"添加书源文件");
    EXPECT_TRUE(logic->Undo());
    EXPECT_EQ(logic->Sources().Count(), 0);
    EXPECT_FALSE(logic->CanUndo());
    // The list shown follows.
    EXPECT_EQ(session->win.Rows, 0);
  }
}

// The marks of a run taken back bring back the group texts exactly, also a
// group member the mark created (it goes again) and one the run rewrote.
TEST_F(UndoTest, CheckRunMarksComeBackMemberForMember) {
  logic->AddSrcFile(dir.Write("s.json", "[" + Src("dead", U("/err")) + "," + Src("alive", U("/ok"), "X;失效") + "]"));
  TRunOptions options;
  options.RemoveRepeat = false;
  options.CheckSources = true;
  logic->ExecuteRun(options);
  EXPECT_EQ(TBookSourceItem(logic->SourceOfRow(0)).bookSourceGroup(), u"失效");
  EXPECT_EQ(TBookSourceItem(logic->SourceOfRow(1)).bookSourceGroup(), u"X");
  EXPECT_EQ(logic->UndoCaption(), u"开始处理");
  ASSERT_TRUE(logic->Undo());
  EXPECT_FALSE(logic->SourceOfRow(0)->Contains(u"bookSourceGroup"));
  EXPECT_EQ(TBookSourceItem(logic->SourceOfRow(1)).bookSourceGroup(), u"X;失效");
}

// A source removed by duplicate removal lives on in the undo entry; the
// editor and the dialogs were told it left when it went.
TEST_F(UndoTest, DuplicateRemovalTakenBackRestoresTheSameSources) {
  logic->AddSrcFile(dir.Write("s.json", Sample()));
  JSONObject* copy = logic->SourceOfRow(3);
  TRunOptions options;
  options.CheckSources = false;
  logic->ExecuteRun(options);
  ASSERT_EQ(logic->Sources().Count(), 4);
  EXPECT_EQ(session->win.Leaving, std::vector<JSONObject*>{copy});
  ASSERT_TRUE(logic->Undo());
  EXPECT_EQ(logic->SourceOfRow(3), copy);  // the same object, not a copy
  EXPECT_EQ(logic->RowText(3), u"【C】b copy");
}

// Undo is refused while a run is going: the run's jobs hold positions.
TEST_F(UndoTest, NothingIsTakenBackDuringARun) {
  logic->AddSrcFile(dir.Write("s.json", Sample()));
  logic->SortByName();
  session->win.Options.RemoveRepeat = false;
  session->win.Options.CheckSources = false;  // a run without stages stays up until stopped
  bool checked = false;
  session->win.WhileWaiting = [&](FakeMainWindow&) {
    if (checked) return;
    checked = true;
    EXPECT_FALSE(logic->CanUndo());
    EXPECT_FALSE(logic->Undo());
    logic->Button1Click();
  };
  logic->Button1Click();
  EXPECT_TRUE(checked);
  EXPECT_TRUE(logic->CanUndo());
  EXPECT_EQ(logic->UndoCaption(), u"排序 - 书源名称");  // an empty run files nothing
}

// Fifty operations can be taken back, not more; a new operation drops what
// waited for redo.
TEST_F(UndoTest, FiftyStepsBackAndANewStepEndsRedo) {
  logic->AddSrcFile(dir.Write("s.json", Sample()));
  for (int i = 0; i < 60; ++i)
    logic->EditorDialogResult(logic->SourceOfRow(0), [i](JSONObject* s) {
      s->SetString(u"bookSourceName", FromUtf8("n" + std::to_string(i)));
    });
  int steps = 0;
  while (logic->Undo()) ++steps;
  EXPECT_EQ(steps, int(TMainLogic::kUndoDepth));
  EXPECT_EQ(TBookSourceItem(logic->SourceOfRow(0)).bookSourceName(), u"n9");
  logic->Redo();
  logic->SortByName();
  EXPECT_FALSE(logic->CanRedo());
}

// ---------------------------------------------------------------- the stack keeps no more than it must

struct TCountedObject : JSONObject {
  explicit TCountedObject(int& ADestroyed) : Destroyed(ADestroyed) {}
  ~TCountedObject() override { ++Destroyed; }
  int& Destroyed;
};

std::unique_ptr<TUndoEntry> RemovalOf(std::vector<JSONBase*> ASources) {
  auto entry = std::make_unique<TUndoEntry>();
  std::vector<int> positions(ASources.size(), 0);
  for (size_t i = 0; i < positions.size(); ++i) positions[i] = int(i);
  entry->Steps.push_back(std::make_unique<TSourcesStep>(false, positions, std::move(ASources)));
  return entry;
}

TEST(UndoStack, DroppedEntriesFreeTheSourcesTheyKept) {
  int destroyed = 0;
  TUndoStack stack(2);
  EXPECT_TRUE(stack.Push(RemovalOf({new TCountedObject(destroyed)})).empty());
  EXPECT_TRUE(stack.Push(RemovalOf({new TCountedObject(destroyed), new TCountedObject(destroyed)})).empty());
  // The third goes beyond the limit: the oldest removal and its source go.
  auto gone = stack.Push(RemovalOf({new TCountedObject(destroyed)}));
  ASSERT_EQ(gone.size(), 1u);
  EXPECT_EQ(destroyed, 0);
  gone.clear();
  EXPECT_EQ(destroyed, 1);

  // A removal whose sources are still freed by their remover leaves them alone.
  auto* foreign = new TCountedObject(destroyed);
  auto entry = RemovalOf({foreign});
  static_cast<TSourcesStep*>(entry->Steps[0].get())->MarkForeign();
  EXPECT_FALSE(entry->Ready());
  entry.reset();
  EXPECT_EQ(destroyed, 1);
  delete foreign;
  EXPECT_EQ(destroyed, 2);

  // An undone insertion owns its sources until redo; dropped, they go.
  JSONArray data;
  auto* inserted = new TCountedObject(destroyed);
  data.Add(static_cast<JSONBase*>(inserted));
  auto insertion = std::make_unique<TUndoEntry>();
  insertion->Steps.push_back(std::make_unique<TSourcesStep>(true, std::vector<int>{0}, std::vector<JSONBase*>{inserted}));
  stack.Push(std::move(insertion));
  std::vector<JSONBase*> leaving;
  stack.NextUndo()->Steps[0]->Undo(data, leaving);
  stack.Undone();
  EXPECT_EQ(leaving, std::vector<JSONBase*>{inserted});
  EXPECT_EQ(data.Count(), 0);
  const int before = destroyed;
  stack.Push(RemovalOf({}));  // the redo side goes
  EXPECT_EQ(destroyed, before + 1);
}

// ---------------------------------------------------------------- saved state and questions

TEST_F(UndoTest, TheCollectionKnowsWhetherItChangedSinceLoadedOrExported) {
  const String file = dir.Write("list.json", Sample());
  logic->OpenSrcFile(file);
  EXPECT_EQ(session->win.FileName, file);
  EXPECT_FALSE(session->win.Modified);
  logic->SortByName();
  EXPECT_TRUE(session->win.Modified);
  logic->Undo();
  EXPECT_FALSE(session->win.Modified);  // back where it was loaded
  logic->Redo();
  EXPECT_TRUE(session->win.Modified);
  logic->ExportTo(dir.Name("out"));
  EXPECT_EQ(session->win.FileName, dir.Name("out.json"));
  EXPECT_FALSE(session->win.Modified);
  // A sort that moves nothing changes nothing.
  logic->SortByName();
  EXPECT_FALSE(session->win.Modified);
  // A file added to an empty, unchanged list is as opened; a second one is a change.
  Fresh();
  logic->AddFiles({file});
  EXPECT_EQ(session->win.FileName, file);
  EXPECT_FALSE(session->win.Modified);
  logic->AddSrcFile(file);
  EXPECT_TRUE(session->win.Modified);
}

TEST_F(UndoTest, OpenAndClearAskBeforeDroppingAChangedList) {
  const String file = dir.Write("list.json", Sample());
  logic->OpenSrcFile(file);
  session->win.OpenFiles = {file};
  logic->OpenFileCommand();  // unchanged: no question
  EXPECT_TRUE(session->win.Questions.empty());
  session->win.Selected = {0};
  logic->RemoveSelected();  // one source: no question either
  EXPECT_TRUE(session->win.Questions.empty());
  const String ask = u"书源列表已修改，是否先导出？";

  struct TCase {
    const char* Name;
    TSaveAnswer Answer;
    std::deque<String> SaveFiles;
    int RowsAfter;
    bool Exported;
  };
  const TCase cases[] = {
      {"cancel keeps the list", TSaveAnswer::Cancel, {}, 4, false},
      {"yes, export cancelled, keeps the list", TSaveAnswer::Yes, {}, 4, false},
      {"yes exports, then clears", TSaveAnswer::Yes, {dir.Name("saved.json")}, 0, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    session->win.Questions.clear();
    session->win.SaveAnswers = {c.Answer};
    session->win.SaveFiles = c.SaveFiles;
    logic->ClearSources();
    EXPECT_EQ(session->win.Questions, std::vector<String>{ask});
    EXPECT_EQ(logic->RowCount(), c.RowsAfter);
    EXPECT_EQ(std::filesystem::exists(dir.Path() / "saved.json"), c.Exported);
  }
  // No: the changed list goes without an export.
  logic->Undo();
  EXPECT_FALSE(session->win.Modified);  // as exported
  session->win.Selected = {0};
  logic->RemoveSelected();
  EXPECT_TRUE(session->win.Modified);
  session->win.Questions.clear();
  session->win.SaveAnswers = {TSaveAnswer::No};
  session->win.OpenFiles = {dir.Write("two.json", "[" + Src("x", "http://x/") + "]")};
  logic->OpenFileCommand();
  EXPECT_EQ(session->win.Questions, std::vector<String>{ask});
  EXPECT_EQ(Names(), std::vector<String>{u"【】x"});
}

TEST_F(UndoTest, ExportAsksBeforeReplacingAFileAndDeleteAsksWithTheCount) {
  logic->AddSrcFile(dir.Write("list.json", Sample()));
  const std::string old = "keep me";
  const String target = dir.Write("exists.json", old);
  session->win.SaveFiles = {dir.Name("exists")};  // ".json" is added
  session->win.YesNoAnswers = {false};
  EXPECT_FALSE(logic->ExportCommand());
  EXPECT_EQ(session->win.Questions, std::vector<String>{u"文件 " + target + u" 已存在，是否替换？"});
  EXPECT_EQ(dir.Read("exists.json"), old);
  session->win.SaveFiles = {target};
  session->win.YesNoAnswers = {true};
  EXPECT_TRUE(logic->ExportCommand());
  EXPECT_NE(dir.Read("exists.json"), old);

  session->win.Questions.clear();
  session->win.Selected = {0, 2, 4};
  session->win.YesNoAnswers = {false};
  logic->RemoveSelected();
  EXPECT_EQ(session->win.Questions, std::vector<String>{u"确定要删除选中的3个书源吗？"});
  EXPECT_EQ(logic->RowCount(), 5);
  session->win.YesNoAnswers = {true};
  logic->RemoveSelected();
  EXPECT_EQ(logic->RowCount(), 2);
}

// ---------------------------------------------------------------- the editor and its source

TEST_F(UndoTest, TheEditorFollowsItsSourceUnlessItHoldsAnEdit) {
  logic->AddSrcFile(dir.Write("s.json", "[" + Src("a", "http://a/", "G") + "," + Src("b", "http://b/") + "]"));
  session->win.CurrentRow = 0;
  logic->LoadIntoEditor();
  logic->ReplaceGroups({u"G", u"H", true});
  EXPECT_NE(session->win.Editor.find(u"\"H\""), String::npos) << "an unmodified editor reloads";
  EXPECT_FALSE(logic->IsChange());

  const String typed = u"{\"bookSourceName\": \"mine\", \"bookSourceUrl\": \"http://a/\"}";
  session->win.Editor = typed;
  logic->EditorChanged();
  logic->ReplaceGroups({u"H", u"K", true});
  EXPECT_EQ(session->win.Editor, typed) << "a modified editor keeps the user's text";

  // Save asks; Cancel keeps editing, No reloads, Yes overwrites.
  const String ask = u"书源已被其他操作修改，是否覆盖？";
  session->win.SaveAnswers = {TSaveAnswer::Cancel};
  EXPECT_FALSE(logic->SaveEdit());
  EXPECT_EQ(session->win.Questions, std::vector<String>{ask});
  EXPECT_EQ(session->win.Editor, typed);
  EXPECT_EQ(logic->RowText(0), u"【K】a");
  session->win.SaveAnswers = {TSaveAnswer::Yes};
  EXPECT_TRUE(logic->SaveEdit());
  EXPECT_EQ(logic->RowText(0), u"【】mine");
  // Undone, the editor (unmodified now) shows the source again.
  logic->Undo();
  EXPECT_EQ(logic->RowText(0), u"【K】a");
  EXPECT_NE(session->win.Editor.find(u"\"K\""), String::npos);

  session->win.Editor = typed;
  logic->EditorChanged();
  logic->ReplaceGroups({u"K", u"L", true});
  session->win.Questions.clear();
  session->win.SaveAnswers = {TSaveAnswer::No};
  EXPECT_TRUE(logic->SaveEdit());
  EXPECT_EQ(session->win.Questions, std::vector<String>{ask});
  EXPECT_NE(session->win.Editor.find(u"\"L\""), String::npos);
  EXPECT_FALSE(logic->IsChange());
  EXPECT_EQ(logic->RowText(0), u"【L】a");
}

TEST_F(UndoTest, FilterKeepsAModifiedEditorAndItsSource) {
  logic->AddSrcFile(dir.Write("s.json", "[" + Src("a", "http://a/", "G") + "," + Src("b", "http://b/") + "]"));
  session->win.CurrentRow = 0;
  logic->LoadIntoEditor();
  const String typed = u"{\"bookSourceName\": \"a2\", \"bookSourceUrl\": \"http://a/\"}";
  session->win.Editor = typed;
  logic->EditorChanged();
  session->win.FilterText = u"b";
  logic->FilterChanged();
  EXPECT_EQ(session->win.Editor, typed);
  EXPECT_EQ(logic->CurIndex(), -1);  // filtered out, still bound
  EXPECT_EQ(session->win.CurrentRow, -1);
  session->win.FilterText = u"";
  logic->FilterChanged();
  EXPECT_EQ(logic->CurIndex(), 0);
  EXPECT_EQ(session->win.CurrentRow, 0);
  session->win.FilterText = u"b";
  logic->FilterChanged();
  EXPECT_TRUE(logic->SaveEdit());
  session->win.FilterText = u"";
  logic->FilterChanged();
  EXPECT_EQ(logic->RowText(0), u"【】a2");
}

// Save checks the text with the standard grammar first.
TEST_F(UndoTest, EditorTextThatIsNoStandardJsonIsSavedOnlyWhenConfirmed) {
  logic->AddSrcFile(dir.Write("s.json", "[" + Src("a", "http://a/") + "]"));
  session->win.CurrentRow = 0;
  logic->LoadIntoEditor();
  const String before = logic->SourceOfRow(0)->ToString();
  // The comma and the quote at the end of the name's line deleted.
  session->win.Editor = u"{\r\n    \"bookSourceName\": \"a\r\n    \"bookSourceUrl\": \"http://a/\"\r\n}";
  logic->EditorChanged();
  EXPECT_FALSE(logic->SaveEdit());
  EXPECT_EQ(session->win.Questions,
            std::vector<String>{u"内容不是标准JSON（第2行第25列: 字符串中有未转义的换行或控制字符），仍要保存吗？"});
  EXPECT_EQ(logic->SourceOfRow(0)->ToString(), before);
  EXPECT_TRUE(logic->IsChange());
  // Standard text saves without a question.
  session->win.Questions.clear();
  session->win.Editor = u"{\"bookSourceName\": \"a2\", \"bookSourceUrl\": \"http://a/\"}";
  EXPECT_TRUE(logic->SaveEdit());
  EXPECT_TRUE(session->win.Questions.empty());
  EXPECT_EQ(logic->RowText(0), u"【】a2");
}

}  // namespace
