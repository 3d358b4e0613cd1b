// The offer at the end of a run, shown on a thread of its own as the scan run shows it.
#include "ui/offer_dlg.h"

#include <gtest/gtest.h>

#include "hosts.h"
#include "tests/support/test_support.h"
#include "tests/ui/dialog_driver.h"
#include "tests/ui/worker_support.h"
#include "ui/resource.h"
#include "ui/scan_run.h"
#include "win/handles.h"

namespace {

using test::DialogThread;

constexpr RECT kOwnerRect{130, 90, 130 + 700, 90 + 450};

// OfferDownload on a thread of its own, optionally owned by a minimized top-level window of
// that thread.
class OfferRun {
 public:
  enum class Owner { kNone, kMinimizedWindow };
  explicit OfferRun(Owner owner = Owner::kNone, std::wstring summary = L"扫描完成，未发现病毒")
      : thread_([this, owner, summary] {
          HWND window = nullptr;
          if (owner != Owner::kNone) {
            window = CreateWindowExW(0, L"STATIC", L"offer owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, kOwnerRect.left,
                                     kOwnerRect.top, kOwnerRect.right - kOwnerRect.left,
                                     kOwnerRect.bottom - kOwnerRect.top, nullptr, nullptr, nullptr, nullptr);
            ShowWindow(window, SW_MINIMIZE);
          }
          owner_ = window;
          ui::OfferDownload(window, summary);
          if (window) DestroyWindow(window);
          return INT_PTR{0};
        }) {
    offer_ = thread_.WaitForDialog(test::kOfferTitle);
    if (!offer_) ADD_FAILURE() << "the offer did not show";
  }

  HWND offer() const { return offer_; }
  HWND owner() const { return owner_; }
  // Waits until the offer has closed and OfferDownload has returned.
  bool WaitForEnd() { return thread_.WaitForEnd() == 0; }

 private:
  // Written by the offer's thread: declared before it starts.
  std::atomic<HWND> owner_{nullptr};
  DialogThread thread_;
  HWND offer_ = nullptr;
};

class OfferDialogTest : public testing::Test {
 protected:
  test::TempDir dir;
};

TEST_F(OfferDialogTest, ControlsFollowTheTemplate) {
  test::DialogTemplate header;
  ASSERT_TRUE(test::ReadDialogTemplate(IDD_OFFER, header));
  EXPECT_EQ(DWORD{DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU}, header.style);
  EXPECT_EQ(212, header.cx);
  EXPECT_EQ(100, header.cy);
  EXPECT_EQ(test::kOfferTitle, header.title);
  EXPECT_EQ(9, header.pointSize);
  EXPECT_EQ(FW_NORMAL, header.weight);
  EXPECT_EQ(GB2312_CHARSET, header.charset);
  EXPECT_EQ(L"宋体", header.face);
  EXPECT_EQ(6, header.items);

  OfferRun run;
  ASSERT_TRUE(run.offer());
  const HWND offer = run.offer();
  RECT size{0, 0, 212, 100}, client{};
  MapDialogRect(offer, &size);
  GetClientRect(offer, &client);
  EXPECT_EQ(size.right, client.right);
  EXPECT_EQ(size.bottom, client.bottom);
  EXPECT_STREQ(L"宋体", test::DialogFont(offer).lfFaceName);

  test::ExpectControls(offer,
                       {
                           {IDOK, L"Button", L"立即下载", {91, 77, 54, 16}, WS_TABSTOP, BS_TYPEMASK, BS_DEFPUSHBUTTON},
                           {IDCANCEL, L"Button", L"取消", {155, 77, 50, 16}, WS_TABSTOP, BS_TYPEMASK, BS_PUSHBUTTON},
                           {IDC_SUMMARY, L"Static", L"扫描完成，未发现病毒", {33, 15, 148, 8}, 0, SS_TYPEMASK, SS_LEFT},
                           // The etched line and the icon size themselves: to the edge, to the icon.
                           {-1, L"Static", L"", {7, 68, 198, 9}, 0, SS_TYPEMASK, SS_ETCHEDHORZ, false},
                           {-1, L"Static", nullptr, {7, 7, 20, 20}, 0, SS_TYPEMASK, SS_ICON, false},
                           {-1,
                            L"Static",
                            L"是否下载《Morva木马专杀》，快速判定系统是否中招？",
                            {7, 41, 193, 8},
                            0,
                            SS_TYPEMASK,
                            SS_LEFT},
                       });
  HWND icon = GetWindow(GetDlgItem(offer, IDC_SUMMARY), GW_HWNDNEXT);
  icon = GetWindow(icon, GW_HWNDNEXT);
  EXPECT_EQ(LoadIconW(nullptr, IDI_INFORMATION), reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0)))
      << "the system's information icon";

  test::Click(offer, IDCANCEL);
  EXPECT_TRUE(run.WaitForEnd());
}

TEST_F(OfferDialogTest, ShowsTheSummaryItIsGiven) {
  for (const wchar_t* summary : {L"扫描完成，未发现病毒", L"已被用户终止，查出2个病毒，恢复0个文件"}) {
    OfferRun run(OfferRun::Owner::kNone, summary);
    ASSERT_TRUE(run.offer());
    EXPECT_EQ(summary, test::ItemText(run.offer(), IDC_SUMMARY));
    test::Click(run.offer(), IDCANCEL);
    ASSERT_TRUE(run.WaitForEnd());
  }
}

// A run that ends while another program's window is in front, so that the main dialog's
// thread has no active window: the offer is the main dialog's all the same, holds it
// disabled, and until it is answered the start/stop button starts nothing, not even by a
// command that reaches the dialog.
TEST_F(OfferDialogTest, OwnedByTheMainDialogWhileAnotherWindowIsInFront) {
  const std::wstring root = dir.MakeDir(L"scan");
  dir.Write(L"scan\\a.txt", "a");
  test::MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  test::WorkerHold hold(test::WorkerHold::kFromItsStart);
  dialog.SetPath(root);
  dialog.Click(IDC_START_STOP);
  ASSERT_TRUE(test::PumpUntil([&] { return hold.Starts() == 1; }, 20000));

  // A window of this thread stands for the other program's: its input state isn't the dialog's.
  const HWND front = CreateWindowExW(0, L"STATIC", L"in front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, kOwnerRect.left,
                                     kOwnerRect.top, 300, 200, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(front);
  SetForegroundWindow(front);
  HWND active = dialog.hwnd();
  ASSERT_TRUE(test::PumpUntil(
      [&] {
        test::CallOnThreadOf(dialog.hwnd(), [&] { active = GetActiveWindow(); });
        return active == nullptr;
      },
      10000))
      << "the main dialog's thread keeps its active window";
  hold.Release();

  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  EXPECT_EQ(dialog.hwnd(), GetWindow(offer, GW_OWNER));
  EXPECT_FALSE(IsWindowEnabled(dialog.hwnd())) << "nothing behind the offer can be pressed";
  RECT main{};
  GetWindowRect(dialog.hwnd(), &main);
  EXPECT_TRUE(test::CentredOn(offer, main));
  dialog.Command(IDC_START_STOP);
  ASSERT_TRUE(dialog.thread().WaitForTicks(3));
  EXPECT_EQ(1, hold.Starts());

  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  EXPECT_EQ(1, dialog.Offers());
  DestroyWindow(front);
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(OfferDialogTest, AMinimizedOwnerLeavesItCentredOnTheWorkArea) {
  OfferRun run(OfferRun::Owner::kMinimizedWindow);
  ASSERT_TRUE(run.offer());
  EXPECT_EQ(run.owner(), GetWindow(run.offer(), GW_OWNER));
  EXPECT_TRUE(IsIconic(run.owner()));
  EXPECT_TRUE(test::CentredOn(run.offer(), test::WorkArea()));
  test::Click(run.offer(), IDCANCEL);
  EXPECT_TRUE(run.WaitForEnd());
}

TEST_F(OfferDialogTest, EnterAcceptsAndOpensTheDownload) {
  ASSERT_TRUE(test::OpenedUrls::RecorderIsTheBrowser()) << "scripts/test.sh registers the recorder as the browser";
  const test::OpenedUrls opened(dir.path());
  OfferRun run;
  ASSERT_TRUE(run.offer());
  test::PressKey(GetDlgItem(run.offer(), IDOK), VK_RETURN);
  ASSERT_TRUE(run.WaitForEnd());
  ASSERT_TRUE(opened.WaitFor(1));
  EXPECT_EQ(std::vector<std::wstring>{test::Url(hosts::kDownload, L"/MorvaSetup.exe")}, opened.Lines());
  // The desktop's shell started the browser: the setup it downloads runs as the user.
  EXPECT_EQ(std::vector<std::wstring>{L"explorer.exe"}, opened.Parents());
}

TEST_F(OfferDialogTest, CancelEscapeAndCloseBoxOpenNothing) {
  ASSERT_TRUE(test::OpenedUrls::RecorderIsTheBrowser()) << "scripts/test.sh registers the recorder as the browser";
  const test::OpenedUrls opened(dir.path());
  for (int way = 0; way < 3; ++way) {
    OfferRun run;
    ASSERT_TRUE(run.offer());
    if (way == 0) test::Click(run.offer(), IDCANCEL);
    if (way == 1) test::PressKey(GetDlgItem(run.offer(), IDOK), VK_ESCAPE);
    if (way == 2) PostMessageW(run.offer(), WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(run.WaitForEnd()) << "way " << way;
  }
  // The shell has started any program it was asked to before OfferDownload returned.
  ASSERT_TRUE(test::OpenedUrls::WaitForRecordersToEnd());
  EXPECT_TRUE(opened.Lines().empty());
}

}  // namespace
