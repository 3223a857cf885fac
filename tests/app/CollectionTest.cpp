#include <gtest/gtest.h>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "app/uBookSourceBean.h"
#include "json/KivJson.h"

namespace {

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logic = std::make_unique<TMainLogic>(win);
    win.Logic = logic.get();
    logic->NotifyListChange(lcSourcesChanged);
  }
  void TearDown() override {
    logic.reset();
  }
  std::vector<String> Rows() {
    std::vector<String> r;
    for (int i = 0; i < logic->RowCount(); ++i) r.push_back(logic->RowText(i));
    return r;
  }
  String Add(const std::string& AJson) {
    String name = dir.Write("f" + std::to_string(++files) + ".json", AJson);
    logic->AddSrcFile(name);
    return name;
  }
  FakeMainWindow win;
  std::unique_ptr<TMainLogic> logic;
  TempDir dir;
  int files = 0;
};

TEST_F(CollectionTest, EmptyListShowsPlaceholderAndCounts) {
  EXPECT_TRUE(win.Placeholder);
  EXPECT_EQ(win.Rows, 0);
  EXPECT_EQ(win.Status[0], u"书源总数：0个, 当前: 0个");
  Add("[]");
  EXPECT_EQ(win.Status[0], u"书源总数：0个, 当前: 0个");
}

TEST_F(CollectionTest, MergesOnlyObjectsWithAnAddress) {
  Add("[" + Src("A", "http://a") + ",\"text\"," + Src("B", "http://b", "G1") + "," + Src("C", "") +
      ",{\"bookSourceName\":\"D\"},[1],42]");
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】A", u"【G1】B"}));
  EXPECT_FALSE(win.Placeholder);
  EXPECT_EQ(win.Status[0], u"书源总数：2个, 当前: 2个");
}

TEST_F(CollectionTest, LoadingTwiceDoublesSourcesButNotGroups) {
  std::string file = "[" + Src("A", "http://a", "X;Y") + "," + Src("B", "http://b", "Y") + "]";
  Add(file);
  Add(file);
  EXPECT_EQ(win.Status[0], u"书源总数：4个, 当前: 4个");
  std::set<String> groups(win.GroupItems.begin(), win.GroupItems.end());
  EXPECT_EQ(groups, (std::set<String>{u"X", u"Y"}));
  EXPECT_EQ(win.GroupItems.size(), 2u);
}

TEST_F(CollectionTest, GroupListFollowsTheHashOrder) {
  Add("[" + Src("A", "http://a", "abc") + "," + Src("B", "http://b", "a") + "]");
  // "a" falls in bucket 97, "abc" in 461 of the 997-bucket index.
  EXPECT_EQ(win.GroupItems, (std::vector<String>{u"a", u"abc"}));
}

TEST_F(CollectionTest, FilterMatchesGroupOrNameIgnoringAsciiCase) {
  Add("[" + Src("S1", "http://1", "VIP书源") + "," + Src("vip精选", "http://2", "G") + "," +
      Src("S3", "http://3", "失效") + "," + Src("S4", "http://4", "ＶＩＰ") + "]");
  struct Case {
    const char16_t* filter;
    std::vector<String> rows;
  } cases[] = {
      {u"vip", {u"【VIP书源】S1", u"【G】vip精选"}},
      {u"VIP", {u"【VIP书源】S1", u"【G】vip精选"}},
      {u"失效", {u"【失效】S3"}},
      {u"ｖｉｐ", {}},  // full-width letters keep their case
      {u"", {u"【VIP书源】S1", u"【G】vip精选", u"【失效】S3", u"【ＶＩＰ】S4"}},
  };
  for (auto& c : cases) {
    win.FilterText = c.filter;
    logic->FilterChanged();
    EXPECT_EQ(Rows(), c.rows) << ToUtf8(c.filter);
    EXPECT_EQ(win.Placeholder, c.rows.empty());
  }
}

TEST_F(CollectionTest, FilterChangeResetsTheEditor) {
  Add("[" + Src("A", "http://a") + "]");
  win.CurrentRow = 0;
  logic->LoadIntoEditor();
  EXPECT_NE(win.Editor, u"");
  win.FilterText = u"zzz";
  logic->FilterChanged();
  EXPECT_EQ(win.Editor, u"");
  EXPECT_EQ(logic->CurIndex(), -1);
  EXPECT_FALSE(logic->IsChange());
}

TEST_F(CollectionTest, SortsAreOrdinalAndTiesKeepTheSortOrder) {
  Add("[" + Src("abc", "http://1", "B") + "," + Src("Abc", "http://2", "A; B") + "," + Src("b", "http://3", "A") +
      "]");
  logic->SortByName();
  EXPECT_EQ(Rows(), (std::vector<String>{u"【A; B】Abc", u"【B】abc", u"【A】b"}));
  logic->SortByGroup();
  EXPECT_EQ(Rows(), (std::vector<String>{u"【A】b", u"【A; B】Abc", u"【B】abc"}));
}

TEST_F(CollectionTest, RemoveSelectedRemovesVisibleSourcesByIdentity) {
  std::string same = Src("Same", "http://s", "K");
  Add("[" + same + "," + Src("Other", "http://o", "Z") + "," + same + "]");
  win.FilterText = u"k";
  logic->FilterChanged();
  ASSERT_EQ(Rows().size(), 2u);
  win.Selected = {1};  // the second copy only
  logic->RemoveSelected();
  win.FilterText = u"";
  logic->FilterChanged();
  EXPECT_EQ(Rows(), (std::vector<String>{u"【K】Same", u"【Z】Other"}));
  EXPECT_EQ(win.Leaving.size(), 1u);
  // The filter offers the groups the collection has now: Z leaves with its last source.
  EXPECT_NE(std::find(win.GroupItems.begin(), win.GroupItems.end(), u"Z"), win.GroupItems.end());
  win.Selected = {1};
  logic->RemoveSelected();
  EXPECT_EQ(std::find(win.GroupItems.begin(), win.GroupItems.end(), u"Z"), win.GroupItems.end());
  EXPECT_NE(std::find(win.GroupItems.begin(), win.GroupItems.end(), u"K"), win.GroupItems.end());
}

TEST_F(CollectionTest, ClearAndOpen) {
  Add("[" + Src("A", "http://a") + "]");
  logic->ClearSources();
  EXPECT_EQ(win.Status[0], u"书源总数：0个, 当前: 0个");
  Add("[" + Src("A", "http://a") + "," + Src("B", "http://b") + "]");
  String second = dir.Write("second.json", "[" + Src("C", "http://c") + "]");
  logic->OpenSrcFile(second);
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】C"}));
}

TEST_F(CollectionTest, FailedOpenKeepsTheCollection) {
  Add("[" + Src("A", "http://a") + "]");
  String bad = dir.Write("bad.json", "[{\"a\" 1}]");
  win.OpenFiles = {bad};
  logic->OpenFileCommand();
  ASSERT_EQ(win.Errors.size(), 1u);
  EXPECT_NE(win.Errors[0].find(u"第1行"), String::npos) << ToUtf8(win.Errors[0]);
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】A"}));
  win.OpenFiles = {dir.Name("missing.json")};
  logic->OpenFileCommand();
  EXPECT_EQ(win.Errors.size(), 2u);
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】A"}));
}

TEST_F(CollectionTest, SingleSourceFileIsMergedAndAnObjectWithoutAddressIsReported) {
  Add(Src("Single", "http://one"));
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】Single"}));
  String none = dir.Write("none.json", "{\"bookSourceName\":\"x\"}");
  EXPECT_THROW(logic->AddSrcFile(none), Exception);
  try {
    logic->AddSrcFile(none);
  } catch (const Exception& E) {
    EXPECT_NE(E.Message().find(u"文件中没有书源"), String::npos);
  }
  EXPECT_EQ(Rows().size(), 1u);
}

TEST_F(CollectionTest, DroppedFilesStopAtTheFirstFailure) {
  String a = dir.Write("a.json", "[" + Src("A", "http://a") + "]");
  String b = dir.Write("b.json", "[{\"x\" 1}]");
  String c = dir.Write("c.json", "[" + Src("C", "http://c") + "]");
  logic->AddFiles({a, b, c});
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】A"}));
  EXPECT_EQ(win.Errors.size(), 1u);
}

TEST_F(CollectionTest, SaveEditWritesIntoTheBoundSourceOnly) {
  Add("[" + Src("B", "http://b") + "," + Src("A", "http://a") + "]");
  win.CurrentRow = 0;
  logic->LoadIntoEditor();  // editor shows B
  EXPECT_FALSE(logic->IsChange());
  logic->SortByName();      // A moves to row 0, B to row 1
  win.Editor = u"{\"bookSourceName\":\"B2\",\"bookSourceUrl\":\"http://b\"}";
  logic->EditorChanged();
  logic->SaveEdit();
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】A", u"【】B2"}));
  EXPECT_EQ(logic->CurIndex(), 1);
}

TEST_F(CollectionTest, RemovingTheEditedSourceUnbindsTheEditor) {
  Add("[" + Src("A", "http://a") + "," + Src("B", "http://b") + "]");
  win.CurrentRow = 0;
  logic->LoadIntoEditor();
  win.Selected = {0};
  logic->RemoveSelected();
  win.Editor = u"{\"bookSourceName\":\"X\",\"bookSourceUrl\":\"http://x\"}";
  logic->EditorChanged();
  logic->SaveEdit();  // nothing is bound: B must stay B
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】B"}));
  win.SaveAnswers = {TSaveAnswer::No};  // do not export the changed list first
  logic->ClearSources();
  EXPECT_EQ(win.Questions, std::vector<String>{u"书源列表已修改，是否先导出？"});
  Add("[" + Src("C", "http://c") + "]");
  logic->SaveEdit();
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】C"}));
}

TEST_F(CollectionTest, SaveEditWithoutAddressKeepsTheEditAndSaysWhy) {
  Add("[" + Src("A", "http://a") + "]");
  win.CurrentRow = 0;
  logic->LoadIntoEditor();
  win.Editor = u"{\"bookSourceName\":\"NoUrl\"}";
  logic->EditorChanged();
  EXPECT_THROW(logic->SaveEdit(), Exception);
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】A"}));  // restored
  EXPECT_TRUE(logic->IsChange());                      // and still unsaved
  EXPECT_EQ(win.Editor, u"{\"bookSourceName\":\"NoUrl\"}");
}

TEST_F(CollectionTest, SaveEditWithBrokenJsonRestoresTheSource) {
  Add("[" + Src("A", "http://a", "G") + "]");
  win.CurrentRow = 0;
  logic->LoadIntoEditor();
  win.Editor = u"{\"bookSourceName\":\"X\",";
  logic->EditorChanged();
  win.YesNoAnswers = {true};  // save the text that is no standard JSON anyway
  EXPECT_THROW(logic->SaveEdit(), Exception);
  EXPECT_EQ(Rows(), (std::vector<String>{u"【G】A"}));
  EXPECT_TRUE(logic->IsChange());
}

TEST_F(CollectionTest, ShortEditorTextLeavesTheSourceAlone) {
  Add("[" + Src("A", "http://a") + "]");
  win.CurrentRow = 0;
  logic->LoadIntoEditor();
  win.Editor = u"x";
  logic->EditorChanged();
  logic->SaveEdit();
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】A"}));
}

TEST_F(CollectionTest, CheckSaveStateAnswers) {
  Add("[" + Src("A", "http://a") + "," + Src("B", "http://b") + "]");
  win.CurrentRow = 0;
  logic->LoadIntoEditor();
  win.Editor = u"{\"bookSourceName\":\"A2\",\"bookSourceUrl\":\"http://a\"}";
  logic->EditorChanged();

  win.CurrentRow = 1;
  win.SaveAnswers = {TSaveAnswer::Cancel};
  logic->LoadIntoEditor();  // abandoned
  EXPECT_EQ(logic->CurIndex(), 0);
  EXPECT_EQ(win.CurrentRow, 0);  // the highlight is back on the editor's row

  win.CurrentRow = 1;
  win.SaveAnswers = {TSaveAnswer::Yes};
  logic->LoadIntoEditor();
  EXPECT_EQ(Rows()[0], u"【】A2");
  EXPECT_EQ(logic->CurIndex(), 1);
  EXPECT_NE(win.Editor.find(u"\"B\""), String::npos);
  EXPECT_FALSE(logic->IsChange());
}

TEST_F(CollectionTest, EditorTextIsIndentedAndNotEscaped) {
  Add("[{\"bookSourceName\":\"书\",\"bookSourceUrl\":\"http://a\"}]");
  win.CurrentRow = 0;
  logic->LoadIntoEditor();
  EXPECT_EQ(win.Editor, u"{\r\n    \"bookSourceName\": \"书\",\r\n    \"bookSourceUrl\": \"http://a\"\r\n}");
}

TEST_F(CollectionTest, CopyAndAdd) {
  Add("[" + Src("A", "http://a", "G", "\"x\":[1,{\"y\":2}]") + "]");
  win.CurrentRow = 0;
  win.Names = {u"Copy"};
  logic->CopyAndAdd();
  EXPECT_EQ(Rows(), (std::vector<String>{u"【G】A", u"【G】Copy"}));
  EXPECT_EQ(win.CurrentRow, 1);  // the new last row is current
  win.CurrentRow = 0;
  logic->CopyAndAdd();  // cancelled prompt: an exact copy
  EXPECT_EQ(Rows().back(), u"【G】A");
  JSONObject* last = logic->SourceOfRow(2);
  EXPECT_EQ(last->ToString(), logic->SourceOfRow(0)->ToString());
  EXPECT_NE(last, logic->SourceOfRow(0));
}

TEST_F(CollectionTest, EditorDialogResultAddsNewSourcesAndReloadsTheEditor) {
  Add("[" + Src("A", "http://a") + "]");
  auto* fresh = new JSONObject();
  fresh->SetString(u"bookSourceName", u"New");
  logic->EditorDialogResult(fresh);  // taken over, even without an address
  EXPECT_EQ(Rows(), (std::vector<String>{u"【】A", u"【】New"}));
  win.CurrentRow = 0;
  logic->LoadIntoEditor();
  JSONObject* a = logic->SourceOfRow(0);
  a->SetString(u"bookSourceName", u"A2");
  logic->EditorDialogResult(a);
  EXPECT_NE(win.Editor.find(u"A2"), String::npos);
  EXPECT_EQ(Rows().size(), 2u);
}

TEST_F(CollectionTest, ExportAppendsJsonAndWritesTheFileFormat) {
  Add("[{\"bookSourceName\":\"书\",\"bookSourceUrl\":\"http://a\",\"weight\":5}]");
  logic->ExportTo(dir.Name("out"));
  EXPECT_EQ(dir.Read("out.json"),
            "[\r\n    {\r\n        \"bookSourceName\": \"书\",\r\n        \"bookSourceUrl\": \"http://a\",\r\n"
            "        \"weight\": 5\r\n    }\r\n]");
  logic->ExportTo(dir.Name("plain.txt"));
  EXPECT_EQ(dir.Read("plain.txt"), dir.Read("out.json"));
}

// Found by fuzzing the loader: a group whose text cannot be written (an array
// holding a member without a name) made the list refresh at the end of loading
// raise from a destructor, which ended the program.
TEST_F(CollectionTest, GroupWhoseTextCannotBeWrittenCountsInNoGroup) {
  Add("[{\"bookSourceName\":\"a\",\"bookSourceUrl\":\"http://a/\",\"bookSourceGroup\":[{\"k\":1,:{\"z\":1}}]}," +
      Src("b", "http://b/", "G") + "]");
  EXPECT_EQ(logic->Sources().Data().Count(), 2);
  EXPECT_EQ(logic->RowCount(), 2);
  EXPECT_EQ(logic->GroupNames(), std::vector<String>{u"G"});
  logic->NotifyListChange(lcSourcesChanged);
  EXPECT_EQ(logic->RowCount(), 2);
  for (int row = 0; row < 2; ++row) EXPECT_NO_THROW(logic->RowText(row));
}

// Found by fuzzing the loader: the lenient reader takes a member without a
// name whose value is an object, and the writer refuses it. The export must
// report that and leave the earlier export and the folder as they were.
TEST_F(CollectionTest, ExportTheWriterRefusesLeavesTheOldFileAndNoTemporary) {
  Add("[" + Src("a", "http://a/") + "]");
  logic->ExportTo(dir.Name("out.json"));
  const std::string before = dir.Read("out.json");
  ASSERT_FALSE(before.empty());
  Add("[{\"bookSourceName\":\"b\",\"bookSourceUrl\":\"http://b/\",\"ruleToc\":{\"k\":1,:{\"z\":1}}}]");
  ASSERT_EQ(logic->Sources().Data().Count(), 2);
  EXPECT_THROW(logic->ExportTo(dir.Name("out.json")), Exception);
  EXPECT_EQ(dir.Read("out.json"), before);
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    entries += e.path().filename().string().rfind(".kivjson-", 0) == 0 ? 100 : 1;
  EXPECT_EQ(entries, 3) << "the two loaded files and the export, no temporary";
  EXPECT_FALSE(logic->RunCommand([&] { logic->ExportTo(dir.Name("new.json")); }));
  ASSERT_FALSE(win.Errors.empty());
  EXPECT_NE(win.Errors.back().find(u"名称未赋值"), String::npos) << ToUtf8(win.Errors.back());
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "new.json"));
}

TEST_F(CollectionTest, GroupRenameModes) {
  Add("[" + Src("1", "http://1", "A, A; C") + "," + Src("2", "http://2", "Vip书源") + "," +
      "{\"bookSourceName\":\"3\",\"bookSourceUrl\":\"http://3\"}]");
  TBookSourceItem one(logic->SourceOfRow(0)), two(logic->SourceOfRow(1)), three(logic->SourceOfRow(2));
  logic->ReplaceGroups({u"A", u"B", true});
  EXPECT_EQ(one.bookSourceGroup(), u"B; B; C");
  EXPECT_EQ(two.bookSourceGroup(), u"Vip书源");
  EXPECT_FALSE(logic->SourceOfRow(2)->Contains(u"bookSourceGroup"));
  logic->ReplaceGroups({u"vip", u"VIP", false});
  EXPECT_EQ(two.bookSourceGroup(), u"VIP书源");
  EXPECT_EQ(three.bookSourceGroup(), u"");  // created by the raw replacement
  EXPECT_TRUE(logic->SourceOfRow(2)->Contains(u"bookSourceGroup"));
  logic->ReplaceGroups({u"B", u"", true});
  EXPECT_EQ(one.bookSourceGroup(), u"C");
  // A renamed-away name is no longer offered; the names in use are.
  EXPECT_EQ(std::find(win.GroupItems.begin(), win.GroupItems.end(), u"A"), win.GroupItems.end());
  EXPECT_NE(std::find(win.GroupItems.begin(), win.GroupItems.end(), u"C"), win.GroupItems.end());
  EXPECT_NE(std::find(win.GroupItems.begin(), win.GroupItems.end(), u"VIP书源"), win.GroupItems.end());
}

TEST_F(CollectionTest, GroupRenameThroughTheDialog) {
  Add("[" + Src("1", "http://1", "AA; CA") + "]");
  TBookSourceItem one(logic->SourceOfRow(0));
  logic->H2Click();  // cancelled
  EXPECT_EQ(one.bookSourceGroup(), u"AA; CA");
  win.ReplaceInputs = {{u"  ", u"x", false}};  // empty find, whole word off: nothing
  logic->H2Click();
  EXPECT_EQ(one.bookSourceGroup(), u"AA; CA");
  win.ReplaceInputs = {{u" a ", u" B ", false}};  // trimmed by the dialog runner
  logic->H2Click();
  EXPECT_EQ(one.bookSourceGroup(), u"BB; CB");
}

}  // namespace
