// The main dialog, run as the program runs it and driven as a user would.
#include "ui/main_dlg.h"

#include <commctrl.h>
#include <process.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include <gtest/gtest.h>

#include "engine/scan_file.h"
#include "ui/run_texts.h"
#include "hosts.h"
#include "tests/support/test_support.h"
#include "tests/ui/dialog_driver.h"
#include "tests/ui/worker_support.h"
#include "ui/resource.h"
#include "ui/scan_control.h"
#include "ui/scan_run.h"
#include "win/handles.h"

namespace {

using test::MainDialog;
using test::TempDir;
using test::Url;

class MainDialogTest : public testing::Test {
 protected:
  void SetUp() override { test::Runs::Forget(); }
  void TearDown() override { test::Runs::SetStarter(nullptr); }
  TempDir dir;
};

TEST_F(MainDialogTest, OpensIdleWithTheDefaultText) {
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  EXPECT_EQ(L"请选择扫描目录：", dialog.Text(IDC_PROMPT));
  EXPECT_EQ(L"默认扫描所有磁盘", dialog.Text(IDC_PATH));
  EXPECT_TRUE(dialog.Visible(IDC_PATH));
  EXPECT_TRUE(dialog.Visible(IDC_BROWSE));
  EXPECT_FALSE(dialog.Visible(IDC_CURRENT_FILE));
  EXPECT_EQ(L"", dialog.Text(IDC_CURRENT_FILE));
  EXPECT_EQ(L"开始查杀", dialog.Text(IDC_START_STOP));
  EXPECT_EQ(L"已扫描0个文件，未发现病毒。", dialog.Text(IDC_PROGRESS));
  EXPECT_TRUE(dialog.Visible(IDC_PROGRESS));
  EXPECT_TRUE(SendMessageW(dialog.hwnd(), WM_GETICON, ICON_BIG, 0));
  EXPECT_TRUE(SendMessageW(dialog.hwnd(), WM_GETICON, ICON_SMALL, 0));
  EXPECT_EQ(nullptr, GetWindow(dialog.hwnd(), GW_OWNER));

  EXPECT_TRUE(test::CentredOn(dialog.hwnd(), test::WorkArea())) << "no owner";

  EXPECT_EQ(2, dialog.CloseWithCloseBox());
  EXPECT_EQ(0, dialog.Offers());
}

// The template as written, and its controls in tab order as the dialog shows them.
TEST_F(MainDialogTest, ControlsFollowTheTemplate) {
  test::DialogTemplate header;
  ASSERT_TRUE(test::ReadDialogTemplate(IDD_MAIN, header));
  EXPECT_EQ(DWORD{DS_SETFONT | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX}, header.style);
  EXPECT_EQ(335, header.cx);
  EXPECT_EQ(186, header.cy);
  EXPECT_EQ(test::kMainTitle, header.title);
  EXPECT_EQ(9, header.pointSize);
  EXPECT_EQ(FW_NORMAL, header.weight);
  EXPECT_EQ(0, header.italic);
  EXPECT_EQ(GB2312_CHARSET, header.charset);
  EXPECT_EQ(L"宋体", header.face);
  EXPECT_EQ(9, header.items);

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  const HWND window = dialog.hwnd();
  EXPECT_EQ(test::kMainTitle, test::WindowText(window));
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  EXPECT_EQ(DWORD{WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX},
            style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  RECT size{0, 0, 335, 186}, client{};
  MapDialogRect(window, &size);
  GetClientRect(window, &client);
  EXPECT_EQ(size.right, client.right);
  EXPECT_EQ(size.bottom, client.bottom);
  const LOGFONTW font = test::DialogFont(window);
  EXPECT_STREQ(L"宋体", font.lfFaceName);
  EXPECT_EQ(FW_NORMAL, font.lfWeight);
  const win::WindowDc screen(nullptr);
  EXPECT_EQ(-MulDiv(9, GetDeviceCaps(screen.get(), LOGPIXELSY), 72), font.lfHeight);

  // The path box and the progress line as the dialog sets them when it opens.
  test::ExpectControls(
      window,
      {
          {IDC_START_STOP, L"Button", L"开始查杀", {127, 101, 83, 25}, WS_TABSTOP, BS_TYPEMASK, BS_DEFPUSHBUTTON},
          {IDC_LINK_TOPIC,
           L"Static",
           L"访问Marrow Finch病毒专题，了解更多详情。",
           {7, 141, 239, 11},
           0,
           SS_TYPEMASK,
           SS_LEFT},
          {IDC_LINK_SITE, L"Static", L"Morva安全网", {13, 167, 41, 11}, 0, SS_TYPEMASK, SS_LEFT},
          {IDC_LINK_COMMUNITY, L"Static", L"安全社区交流", {71, 167, 49, 11}, 0, SS_TYPEMASK, SS_LEFT},
          // Without ES_AUTOHSCROLL a long path would be cut to the box's width.
          {IDC_PATH,
           L"Edit",
           L"默认扫描所有磁盘",
           {7, 58, 252, 14},
           WS_TABSTOP | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL,
           ES_MULTILINE,
           0},
          {IDC_BROWSE, L"Button", L"选择目录...", {266, 58, 62, 14}, WS_TABSTOP, BS_TYPEMASK, BS_PUSHBUTTON},
          {IDC_PROGRESS, L"Static", L"已扫描0个文件，未发现病毒。", {7, 83, 188, 13}, 0, SS_TYPEMASK, SS_LEFT},
          // A long path loses its middle, never its file name; an "&" in a name shows as itself.
          {IDC_CURRENT_FILE, L"Static", L"", {7, 58, 321, 14}, SS_PATHELLIPSIS | SS_NOPREFIX, SS_TYPEMASK, SS_LEFT},
          {IDC_PROMPT, L"Static", L"请选择扫描目录：", {7, 46, 96, 12}, 0, SS_TYPEMASK, SS_LEFT},
      });
  // The prompt is the one control with the id -1 and is found by it.
  EXPECT_EQ(GetWindow(GetDlgItem(window, IDC_START_STOP), GW_HWNDLAST), GetDlgItem(window, IDC_PROMPT));
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, PathBoxKeepsALongPathWhole) {
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  std::wstring longPath = dir.path();
  while (longPath.size() < 250) longPath += L"a-long-directory-name\\";
  dialog.SetPath(longPath);  // fails when the box cuts it
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, RunOverInfectedFilesOffersTheSummaryAndReturnsToIdle) {
  const std::wstring root = dir.MakeDir(L"scan");
  const std::wstring withCopy1 = dir.CopyFixture(L"marker_exact", L"scan\\one.exe");
  dir.Write(L"scan\\one.sql", "first former contents");
  dir.MakeDir(L"scan\\sub");
  const std::wstring withCopy2 = dir.CopyFixture(L"marker_lower", L"scan\\sub\\two.exe");
  dir.Write(L"scan\\sub\\two.sql", "second former contents");
  const std::wstring withoutCopy = dir.CopyFixture(L"marker_inside", L"scan\\sub\\three.exe");
  dir.Write(L"scan\\clean.txt", "clean");
  dir.CopyFixture(L"clean_company", L"scan\\sub\\clean.exe");

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.SetPath(root);
  dialog.Click(IDC_START_STOP);

  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  EXPECT_EQ(L"扫描完成，查出3个病毒，恢复3个文件", test::ItemText(offer, IDC_SUMMARY));
  // The window stays in its run state until the offer is answered.
  EXPECT_EQ(L"正在扫描...", dialog.Text(IDC_PROMPT));
  EXPECT_EQ(L"停止查杀", dialog.Text(IDC_START_STOP));
  EXPECT_TRUE(dialog.Visible(IDC_CURRENT_FILE));
  EXPECT_FALSE(dialog.Visible(IDC_PATH));
  EXPECT_FALSE(dialog.Visible(IDC_BROWSE));
  EXPECT_EQ(0u, dialog.Text(IDC_CURRENT_FILE).find(root + L"\\")) << "the last file inspected";
  // A ".sql" copy that is gone by the time the walk lists it isn't counted.
  const int32_t scanned = test::Runs::Scanned();
  EXPECT_GE(scanned, 5);
  EXPECT_LE(scanned, 7);
  const std::wstring progress = ui::FormatProgressLine(scanned, 3, 3);
  EXPECT_EQ(progress, dialog.Text(IDC_PROGRESS));

  EXPECT_EQ("first former contents", test::ReadBytes(withCopy1));
  EXPECT_EQ("second former contents", test::ReadBytes(withCopy2));
  EXPECT_FALSE(test::Exists(withoutCopy));

  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  EXPECT_EQ(root, dialog.Text(IDC_PATH)) << "the chosen folder stays; the default text doesn't come back";
  EXPECT_EQ(progress, dialog.Text(IDC_PROGRESS));
  ASSERT_TRUE(dialog.thread().WaitForTicks(3));
  EXPECT_EQ(1, dialog.Offers());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

// A stop during the memory stage, which a process can hold for as long as it likes: the
// window answers, the offer opens at once, and the worker begins no walk after it.
TEST_F(MainDialogTest, StopInTheMemoryStageOffersTheStoppedSummaryAndWalksNothing) {
  const std::wstring root = dir.MakeDir(L"scan");
  dir.Write(L"scan\\a.txt", "a");

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  test::WorkerHold hold(test::WorkerHold::kFromItsStart);
  dialog.SetPath(root);
  dialog.Click(IDC_START_STOP);
  ASSERT_TRUE(hold.HoldInTheMemoryStage());
  EXPECT_TRUE(test::Answers(dialog.hwnd()));
  EXPECT_EQ(L"扫描内存中...", dialog.Text(IDC_PROMPT));
  dialog.Click(IDC_START_STOP);

  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  EXPECT_EQ(L"已被用户终止，未发现病毒", test::ItemText(offer, IDC_SUMMARY));
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  EXPECT_EQ(root, dialog.Text(IDC_PATH));

  // The worker ends by itself, and raises no second offer.
  EXPECT_FALSE(hold.Ended());
  hold.Release();
  ASSERT_TRUE(hold.WaitForEnd());
  EXPECT_EQ(0, test::Runs::Scanned());
  ASSERT_TRUE(dialog.thread().WaitForTicks(3));
  EXPECT_EQ(1, dialog.Offers());
  EXPECT_TRUE(dialog.IsIdleAfterRun());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, EmptyPathBoxAsksForADirectory) {
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.SetPath(L"");
  dialog.Click(IDC_START_STOP);

  const HWND box = dialog.thread().WaitForDialog(test::kMessageBoxTitle);
  ASSERT_TRUE(box);
  const std::vector<std::wstring> texts = test::ChildTexts(box);
  EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), L"请输入目录"));
  EXPECT_EQ(dialog.hwnd(), GetWindow(box, GW_OWNER));
  EXPECT_TRUE(GetDlgItem(box, IDOK)) << "a single OK button";
  EXPECT_FALSE(GetDlgItem(box, IDCANCEL));
  // Nothing started: the window is as it was.
  EXPECT_EQ(L"开始查杀", dialog.Text(IDC_START_STOP));
  EXPECT_EQ(L"请选择扫描目录：", dialog.Text(IDC_PROMPT));
  EXPECT_TRUE(dialog.Visible(IDC_PATH));

  test::PressKey(GetDlgItem(box, IDOK), VK_RETURN);
  ASSERT_TRUE(test::PumpUntil([&] { return !IsWindow(box); }, 10000));
  ASSERT_TRUE(dialog.thread().WaitForTicks(3));
  EXPECT_FALSE(test::Runs::Latest()) << "no run started, nothing counted";
  EXPECT_EQ(0, dialog.Offers());
  EXPECT_EQ(L"开始查杀", dialog.Text(IDC_START_STOP));
  EXPECT_EQ(L"请选择扫描目录：", dialog.Text(IDC_PROMPT));
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, EnterInThePathBoxActsAsTheButton) {
  const std::wstring root = dir.MakeDir(L"scan");
  dir.Write(L"scan\\a.txt", "a");

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.SetPath(root);
  const HWND pathBox = GetDlgItem(dialog.hwnd(), IDC_PATH);
  PostMessageW(dialog.hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(pathBox), TRUE);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(test::PumpUntil(
      [&] { return GetGUIThreadInfo(dialog.thread().threadId(), &info) && info.hwndFocus == pathBox; }, 10000));

  test::PressKey(pathBox, VK_RETURN);
  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  EXPECT_EQ(L"扫描完成，未发现病毒", test::ItemText(offer, IDC_SUMMARY));
  EXPECT_EQ(root + L"\\a.txt", dialog.Text(IDC_CURRENT_FILE));
  test::PressKey(GetDlgItem(offer, IDCANCEL), VK_ESCAPE);
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, SecondRunShowsThePreviousLastPathUntilItsFirstFile) {
  const std::wstring first = dir.MakeDir(L"first");
  const std::wstring lastFile = dir.Write(L"first\\only.txt", "x");
  const std::wstring empty = dir.MakeDir(L"empty");
  dir.MakeDir(L"empty\\nothing-here");

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.SetPath(first);
  dialog.Click(IDC_START_STOP);
  HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  const std::wstring progress = dialog.Text(IDC_PROGRESS);
  EXPECT_EQ(L"已扫描1个文件，未发现病毒", progress);

  // A run that meets no file: the line shows the first run's last path all along.
  dialog.SetPath(empty);
  dialog.Click(IDC_START_STOP);
  offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  EXPECT_EQ(L"扫描完成，未发现病毒", test::ItemText(offer, IDC_SUMMARY));
  EXPECT_TRUE(dialog.Visible(IDC_CURRENT_FILE));
  EXPECT_EQ(lastFile, dialog.Text(IDC_CURRENT_FILE));
  EXPECT_EQ(progress, dialog.Text(IDC_PROGRESS));
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  EXPECT_EQ(2, dialog.Offers());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, MissingDirectoryEndsAsFinishedWithNothingFound) {
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.SetPath(dir / L"does-not-exist");
  dialog.Click(IDC_START_STOP);
  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  EXPECT_EQ(L"扫描完成，未发现病毒", test::ItemText(offer, IDC_SUMMARY));
  EXPECT_EQ(0, test::Runs::Scanned());
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, LinksOpenTheirPages) {
  ASSERT_TRUE(test::OpenedUrls::RecorderIsTheBrowser()) << "scripts/test.sh registers the recorder as the browser";
  const test::OpenedUrls opened(dir.path());
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());

  dialog.Command(IDC_LINK_TOPIC);
  ASSERT_TRUE(opened.WaitFor(1));
  dialog.Command(IDC_LINK_SITE);
  ASSERT_TRUE(opened.WaitFor(2));
  dialog.Command(IDC_LINK_COMMUNITY);
  ASSERT_TRUE(opened.WaitFor(3));
  const std::vector<std::wstring> expected = {Url(hosts::kMainSite, L"/ztmf.html"), Url(hosts::kMainSite, L"/?s=1"),
                                              Url(hosts::kCommunity, L"/?s=1")};
  EXPECT_EQ(expected, opened.Lines());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, AcceptingTheOfferWithEnterOpensTheDownload) {
  ASSERT_TRUE(test::OpenedUrls::RecorderIsTheBrowser()) << "scripts/test.sh registers the recorder as the browser";
  const test::OpenedUrls opened(dir.path());
  const std::wstring root = dir.MakeDir(L"scan");

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.SetPath(root);
  dialog.Click(IDC_START_STOP);
  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  test::PressKey(GetDlgItem(offer, IDOK), VK_RETURN);
  ASSERT_TRUE(opened.WaitFor(1));
  EXPECT_EQ(std::vector<std::wstring>{Url(hosts::kDownload, L"/MorvaSetup.exe")}, opened.Lines());
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, FolderBrowserCancelKeepsTheTextAndAChoiceReplacesIt) {
  const std::wstring chosen = dir.MakeDir(L"chosen");
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  const auto findBrowser = [&] {
    struct Search {
      HWND main, found;
    } search{dialog.hwnd(), nullptr};
    EnumThreadWindows(
        dialog.thread().threadId(),
        [](HWND window, LPARAM param) {
          auto* s = reinterpret_cast<Search*>(param);
          wchar_t cls[16] = {};
          GetClassNameW(window, cls, 16);
          if (window != s->main && IsWindowVisible(window) && std::wstring(cls) == L"#32770") s->found = window;
          return s->found ? FALSE : TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  };

  dialog.Click(IDC_BROWSE);
  HWND browser = nullptr;
  ASSERT_TRUE(test::PumpUntil([&] { return (browser = findBrowser()) != nullptr; }, 20000));
  EXPECT_EQ(dialog.hwnd(), GetWindow(browser, GW_OWNER));
  const std::vector<std::wstring> texts = test::ChildTexts(browser);
  EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(), L"选择目录")) << "the browser's title line";
  PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(test::PumpUntil([&] { return !IsWindow(browser); }, 10000));
  ASSERT_TRUE(test::Answers(dialog.hwnd()));
  EXPECT_EQ(L"默认扫描所有磁盘", dialog.Text(IDC_PATH));

  dialog.Click(IDC_BROWSE);
  ASSERT_TRUE(test::PumpUntil([&] { return (browser = findBrowser()) != nullptr; }, 20000));
  // Wine's browser may not have listed the drives yet when it first shows: select until
  // the tree shows the folder as its selection.
  const HWND tree = FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr);
  ASSERT_TRUE(tree);
  const auto selectedName = [&] {
    wchar_t name[MAX_PATH] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = name;
    item.cchTextMax = MAX_PATH;
    if (!item.hItem || !SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return std::wstring();
    return std::wstring(name);
  };
  ASSERT_TRUE(test::PumpUntil(
      [&] {
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(chosen.c_str()));
        return selectedName() == L"chosen";
      },
      30000));
  PostMessageW(browser, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(test::PumpUntil([&] { return !IsWindow(browser); }, 10000));
  ASSERT_TRUE(test::Answers(dialog.hwnd()));
  EXPECT_EQ(chosen, dialog.Text(IDC_PATH));
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, CommandOneEndsTheDialogWithOne) {
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.Command(IDOK);
  EXPECT_EQ(1, dialog.thread().WaitForEnd());
}

TEST_F(MainDialogTest, EscapeEndsTheDialogWithTwo) {
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  test::PressKey(GetDlgItem(dialog.hwnd(), IDC_START_STOP), VK_ESCAPE);
  EXPECT_EQ(2, dialog.thread().WaitForEnd());
}

// ---- Stops, starts and ends racing with the worker ----

// A stop that comes after the worker has ended, before or after the timer noticed it:
// no waiting for a worker that will never run again, and one offer for the one run.
TEST_F(MainDialogTest, StopAfterTheWorkerEndedNeitherHangsNorOffersTwice) {
  const std::wstring root = dir.MakeDir(L"scan");
  dir.Write(L"scan\\a.txt", "a");
  test::WorkerHold hold;

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.SetPath(root);
  dialog.Click(IDC_START_STOP);
  // The worker's end, whether or not the timer has taken its flag yet (on a busy machine a
  // tick may come before this thread looks).
  ASSERT_TRUE(test::PumpUntil([&] { return test::Runs::Scanned() == 1 && hold.Ended(); }, 20000));
  PostMessageW(dialog.hwnd(), WM_COMMAND, IDC_START_STOP, 0);  // most likely before the next tick

  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  const std::wstring summary = test::ItemText(offer, IDC_SUMMARY);
  EXPECT_TRUE(summary == L"扫描完成，未发现病毒" || summary == L"已被用户终止，未发现病毒") << "summary";
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  ASSERT_TRUE(dialog.thread().WaitForTicks(3));
  EXPECT_TRUE(test::Answers(dialog.hwnd()));
  EXPECT_EQ(1, dialog.Offers());
  EXPECT_TRUE(dialog.IsIdleAfterRun());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

// A worker that ends while the stop is being handled sets its flag too late to be taken
// by the stop; the next ticks must not turn it into a second offer.
TEST_F(MainDialogTest, FinishedFlagSetAfterTheStopRaisesNoSecondOffer) {
  const std::wstring root = dir.MakeDir(L"scan");
  for (int i = 0; i < 300; ++i) dir.Write(L"scan\\file" + std::to_wstring(i) + L".txt", "x");
  test::WorkerHold hold;

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.SetPath(root);
  dialog.Click(IDC_START_STOP);
  dialog.Click(IDC_START_STOP);
  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  // What a worker that read the stop flag just before it was set does at its end.
  ASSERT_TRUE(hold.WaitForEnd());
  test::Runs::Latest()->state.scanFinished = 1;
  ASSERT_TRUE(dialog.thread().WaitForTicks(3));
  EXPECT_EQ(1, dialog.Offers());
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  ASSERT_TRUE(dialog.thread().WaitForTicks(3));
  EXPECT_EQ(1, dialog.Offers());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogTest, WorkerThatCannotStartLeavesTheWindowIdle) {
  const std::wstring root = dir.MakeDir(L"scan");
  dir.Write(L"scan\\a.txt", "a");
  test::Runs::SetStarter([](unsigned(__stdcall*)(void*), void*) -> HANDLE {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  });

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  dialog.SetPath(root);
  dialog.Click(IDC_START_STOP);
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  ASSERT_TRUE(dialog.thread().WaitForTicks(3));
  EXPECT_EQ(0, dialog.Offers());
  EXPECT_EQ(0, test::Runs::Scanned());
  EXPECT_TRUE(dialog.IsIdleAfterRun());
  EXPECT_TRUE(test::Answers(dialog.hwnd()));

  // The next start works.
  test::Runs::SetStarter(nullptr);
  dialog.Click(IDC_START_STOP);
  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  EXPECT_EQ(L"扫描完成，未发现病毒", test::ItemText(offer, IDC_SUMMARY));
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

// A tree whose walk holds the worker in one file for a while: "first.txt", then in "sub"
// an infected file whose large ".sql" copy is written back over it, and in "sub\later"
// files that a stopped walk never reaches.
struct LongFileTree {
  LongFileTree(const TempDir& dir, size_t copyBytes, int laterFiles) {
    root = dir.MakeDir(L"tree");
    dir.Write(L"tree\\first.txt", "first");
    dir.MakeDir(L"tree\\sub\\later");
    infected = dir.CopyFixture(L"marker_exact", L"tree\\sub\\big.exe");
    former.assign(copyBytes, 'f');
    former.replace(0, 16, "former contents:");
    copy = dir.Write(L"tree\\sub\\big.sql", former);
    for (int i = 0; i < laterFiles; ++i) dir.Write(L"tree\\sub\\later\\later" + std::to_wstring(i) + L".txt", "x");
    files = 2 + laterFiles;  // after the restoration: first.txt, big.exe and the later files
  }
  bool Restored() const { return !test::Exists(copy) && test::ReadBytes(infected) == former; }
  // Both files as they were: a copy abandoned by a stop changes neither.
  bool Untouched() const {
    return test::ReadBytes(copy) == former &&
           test::ReadBytes(infected) == test::ReadBytes(test::FixturePath(L"marker_exact"));
  }

  std::wstring root, infected, copy;
  std::string former;
  int files = 0;
};

TEST_F(MainDialogTest, StartWhileAStoppedWorkerFinishesWaitsForIt) {
  const LongFileTree tree(dir, 64u << 20, 20);
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  test::WorkerHold hold;  // goes first: a failed test lets the worker and the dialog end
  dialog.SetPath(tree.root);
  dialog.Click(IDC_START_STOP);
  ASSERT_TRUE(hold.HoldInTheCopy());

  dialog.Click(IDC_START_STOP);  // stop
  HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  EXPECT_EQ(L"已被用户终止，查出1个病毒，恢复0个文件", test::ItemText(offer, IDC_SUMMARY)) << "counts when it opened";
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  ASSERT_FALSE(hold.Ended()) << "the stopped worker is still in its copy";

  dialog.Click(IDC_START_STOP);  // a new run while the old worker finishes
  // The start waits for it (the worker needs nothing of the window's thread any more).
  EXPECT_TRUE(test::PumpUntil([&] { return !test::Answers(dialog.hwnd(), 300); }, 5000))
      << "the start didn't wait for the old worker";
  hold.Release();
  offer = dialog.WaitForOffer(60000);
  ASSERT_TRUE(offer);
  EXPECT_TRUE(tree.Restored());
  // The new run began after the old worker had ended, which abandoned its copy at the stop:
  // the new run counted every file once (the copy too, listed before the restoration
  // deleted it) and restored the infected file.
  EXPECT_EQ(L"扫描完成，查出1个病毒，恢复1个文件", test::ItemText(offer, IDC_SUMMARY));
  EXPECT_EQ(tree.files + 1, test::Runs::Scanned());
  EXPECT_EQ(ui::FormatProgressLine(tree.files + 1, 1, 1), dialog.Text(IDC_PROGRESS));
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  EXPECT_EQ(2, dialog.Offers());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

// Every text the dialog sets on its current-file line, recorded on the dialog's own thread.
class CurrentFileTexts {
 public:
  explicit CurrentFileTexts(HWND dialog) : line_(GetDlgItem(dialog, IDC_CURRENT_FILE)) {
    test::CallOnThreadOf(line_, [this] { SetWindowSubclass(line_, Proc, 1, reinterpret_cast<DWORD_PTR>(this)); });
  }
  ~CurrentFileTexts() {
    if (IsWindow(line_)) test::CallOnThreadOf(line_, [this] { RemoveWindowSubclass(line_, Proc, 1); });
  }
  std::vector<std::wstring> Texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    if (message == WM_SETTEXT && lParam) {
      auto* texts = reinterpret_cast<CurrentFileTexts*>(self);
      std::lock_guard<std::mutex> lock(texts->mutex_);
      texts->texts_.push_back(reinterpret_cast<const wchar_t*>(lParam));
    }
    return DefSubclassProc(window, message, wParam, lParam);
  }
  HWND line_;
  mutable std::mutex mutex_;
  std::vector<std::wstring> texts_;
};

// A long run shows its progress about 20 times a second, not once per file, and its texts
// are exact when its offer opens.
TEST_F(MainDialogTest, ALongRunShowsAboutTwentyStatesASecondAndEndsExact) {
  const std::wstring root = dir.MakeDir(L"many");
  constexpr int kFiles = 400;
  for (int i = 0; i < kFiles; ++i) dir.Write(L"many\\f" + std::to_wstring(i) + L".txt", "x");
  dir.CopyFixture(L"marker_exact", L"many\\prog.exe");
  dir.Write(L"many\\prog.sql", "former");

  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  const CurrentFileTexts texts(dialog.hwnd());
  dialog.SetPath(root);
  const ULONGLONG start = GetTickCount64();
  dialog.Click(IDC_START_STOP);
  const HWND offer = dialog.WaitForOffer(120000);
  ASSERT_TRUE(offer);
  const ULONGLONG elapsed = GetTickCount64() - start;

  const int handled = test::Runs::Scanned();
  EXPECT_GE(handled, kFiles + 1);
  EXPECT_EQ(ui::FormatProgressLine(handled, 1, 1), dialog.Text(IDC_PROGRESS));
  const std::vector<std::wstring> shown = texts.Texts();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), dialog.Text(IDC_CURRENT_FILE));
  EXPECT_EQ(0u, shown.back().rfind(root + L"\\", 0)) << "the walk's last file";
  EXPECT_LE(shown.size(), engine::ProgressBoard::kBurst + static_cast<size_t>(elapsed / 50) + 2) << elapsed << " ms";
  EXPECT_LT(shown.size(), static_cast<size_t>(handled)) << "not once per file";
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

// Closing during a run: the worker is asked to stop and abandons the copy in hand, which
// leaves both files as they were, before the dialog ends (and with it the process); the
// window answers meanwhile; no offer.
enum class CloseBy { kCloseBox, kEscape, kCommandTwo };

class CloseDuringRunTest : public MainDialogTest, public testing::WithParamInterface<CloseBy> {};

TEST_P(CloseDuringRunTest, AbandonsTheCopyInHand) {
  const LongFileTree tree(dir, 64u << 20, 20);
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  test::WorkerHold hold;  // goes first: a failed test lets the worker and the dialog end
  dialog.SetPath(tree.root);
  dialog.Click(IDC_START_STOP);
  ASSERT_TRUE(hold.HoldInTheCopy());

  switch (GetParam()) {
    case CloseBy::kCloseBox:
      PostMessageW(dialog.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    case CloseBy::kEscape:
      test::PressKey(GetDlgItem(dialog.hwnd(), IDC_START_STOP), VK_ESCAPE);
      break;
    case CloseBy::kCommandTwo:
      dialog.Command(IDCANCEL);
      break;
  }
  ASSERT_TRUE(test::PumpUntil(
      [] { return test::Runs::Latest() && test::Runs::Latest()->state.stopRequested.load() == 1; }, 10000));
  EXPECT_FALSE(hold.Ended());
  EXPECT_FALSE(dialog.thread().ended());
  hold.Release();
  EXPECT_EQ(2, dialog.thread().WaitForEnd(60000));
  EXPECT_TRUE(hold.Ended()) << "the worker ended before the dialog did";
  EXPECT_FALSE(test::Runs::LeftItsWorkerRunning());
  EXPECT_TRUE(tree.Untouched());
  // The other inspectors may have gone through the later files and the copy itself during
  // the copy; each is counted once at most.
  EXPECT_LE(test::Runs::Scanned(), tree.files + 1);
  EXPECT_EQ(0, dialog.Offers());
}

// A worker that doesn't end (stuck in a call the system won't cut short, in the walk or in
// the memory stage) doesn't keep the dialog open: it ends after a moment's grace, and the
// program then ends its process. A worker released from its memory stage walks nothing.
enum class StuckIn { kTheCopy, kTheMemoryStage };

class MainDialogStuckWorkerTest : public MainDialogTest, public testing::WithParamInterface<StuckIn> {};

TEST_P(MainDialogStuckWorkerTest, CloseEndsItAfterAMoment) {
  const LongFileTree tree(dir, 64u << 20, 20);
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  const bool inMemoryStage = GetParam() == StuckIn::kTheMemoryStage;
  test::WorkerHold hold(inMemoryStage ? test::WorkerHold::kFromItsStart : test::WorkerHold::kWhenAsked);
  dialog.SetPath(tree.root);
  dialog.Click(IDC_START_STOP);
  ASSERT_TRUE(inMemoryStage ? hold.HoldInTheMemoryStage() : hold.HoldInTheCopy());
  EXPECT_TRUE(test::Answers(dialog.hwnd()));

  const ULONGLONG start = GetTickCount64();
  PostMessageW(dialog.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(2, dialog.thread().WaitForEnd(10000));
  EXPECT_LT(GetTickCount64() - start, 3000u) << "the program ends within three seconds of the close";
  EXPECT_TRUE(test::Runs::LeftItsWorkerRunning()) << "the program is told to end its process";
  hold.Release();
  ASSERT_TRUE(hold.WaitForEnd());
  EXPECT_FALSE(test::Runs::LeftItsWorkerRunning());
  EXPECT_TRUE(tree.Untouched());
  if (inMemoryStage) {
    EXPECT_EQ(0, test::Runs::Scanned());
  }
}

INSTANTIATE_TEST_SUITE_P(Stuck, MainDialogStuckWorkerTest, testing::Values(StuckIn::kTheCopy, StuckIn::kTheMemoryStage),
                         [](const testing::TestParamInfo<StuckIn>& info) {
                           return info.param == StuckIn::kTheCopy ? "InTheCopy" : "InTheMemoryStage";
                         });

INSTANTIATE_TEST_SUITE_P(Closes, CloseDuringRunTest,
                         testing::Values(CloseBy::kCloseBox, CloseBy::kEscape, CloseBy::kCommandTwo),
                         [](const testing::TestParamInfo<CloseBy>& info) {
                           switch (info.param) {
                             case CloseBy::kCloseBox:
                               return "CloseBox";
                             case CloseBy::kEscape:
                               return "Escape";
                             case CloseBy::kCommandTwo:
                               return "CommandTwo";
                           }
                           return "Unknown";
                         });

}  // namespace
