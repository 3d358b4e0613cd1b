#include "tests/controls/test_dialog.h"

#include <cstdint>
#include <cwchar>
#include <string>

#include "controls/dialog_surface.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include "win/dpi.h"

namespace test {

namespace {

// Dialog templates are sequences of WORDs with DWORD-aligned items.
class TemplateWriter {
 public:
  void Word(uint16_t value) { words_.push_back(value); }
  void Dword(uint32_t value) {
    Word(static_cast<uint16_t>(value & 0xFFFF));
    Word(static_cast<uint16_t>(value >> 16));
  }
  void Text(const wchar_t* text) {
    for (; *text; ++text) Word(static_cast<uint16_t>(*text));
    Word(0);
  }
  void AlignDword() {
    if (words_.size() % 2) Word(0);
  }
  void Item(uint16_t classAtom, const wchar_t* text, int id, DWORD style, short x, short y, short cx, short cy) {
    AlignDword();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);  // extended style
    Word(static_cast<uint16_t>(x));
    Word(static_cast<uint16_t>(y));
    Word(static_cast<uint16_t>(cx));
    Word(static_cast<uint16_t>(cy));
    Word(static_cast<uint16_t>(id));
    Word(0xFFFF);
    Word(classAtom);
    Text(text);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<uint16_t> words_;
};

constexpr uint16_t kButton = 0x0080;
constexpr uint16_t kEdit = 0x0081;
constexpr uint16_t kStatic = 0x0082;

// The main window's template: 335 x 186 dialog units in 9-point "宋体", its controls at
// their places, the current-file line hidden.
TemplateWriter MainDialogTemplate() {
  TemplateWriter t;
  const DWORD style = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  t.Dword(style);
  t.Dword(0);
  t.Word(9);  // items
  t.Word(0);
  t.Word(0);
  t.Word(335);
  t.Word(186);
  t.Word(0);  // no menu
  t.Word(0);  // the dialog class
  t.Text(L"Marrow Finch病毒专杀工具 - Morva安全系列产品");
  t.Word(9);
  t.Text(L"宋体");
  t.Item(kButton, L"开始查杀", 1008, BS_DEFPUSHBUTTON | WS_TABSTOP, 127, 101, 83, 25);
  t.Item(kStatic, L"访问Marrow Finch病毒专题，了解更多详情。", kTopicLink, SS_LEFT, 7, 141, 239, 11);
  t.Item(kStatic, L"Morva安全网", kSiteLink, SS_LEFT, 13, 167, 41, 11);
  t.Item(kStatic, L"安全社区交流", kCommunityLink, SS_LEFT, 71, 167, 49, 11);
  t.Item(kEdit, L"", 1014, ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP, 7, 58, 252, 14);
  t.Item(kButton, L"选择目录...", 1015, BS_PUSHBUTTON | WS_TABSTOP, 266, 58, 62, 14);
  t.Item(kStatic, L"已扫描0个文件，未发现病毒。", 1017, SS_LEFT, 7, 83, 188, 13);
  t.Item(kStatic, L"", 1016, SS_LEFT | SS_PATHELLIPSIS, 7, 58, 321, 14);
  t.Item(kStatic, L"请选择扫描目录：", 0xFFFF, SS_LEFT, 7, 46, 96, 12);
  return t;
}

}  // namespace

TestDialog::TestDialog(bool attachLinks) {
  const HINSTANCE module = GetModuleHandleW(nullptr);
  icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                       GetSystemMetrics(SM_CYICON), 0));
  logo = LoadBitmapW(module, MAKEINTRESOURCEW(kLogoResource));
  const TemplateWriter dialogTemplate = MainDialogTemplate();
  window_ = CreateDialogIndirectParamW(module, dialogTemplate.get(), nullptr, &TestDialog::DialogProc,
                                       reinterpret_cast<LPARAM>(this));
  if (!window_) return;
  SetDlgItemTextW(window_, 1014, L"默认扫描所有磁盘");
  ShowWindow(Item(1016), SW_HIDE);
  if (attachLinks) {
    const int ids[] = {kTopicLink, kSiteLink, kCommunityLink};
    for (int i = 0; i < 3; ++i) links_[i].Attach(window_, ids[i]);
    links_[1].m_crBackground = controls::kBandColour;
    links_[2].m_crBackground = controls::kBandColour;
  }
}

TestDialog::~TestDialog() {
  if (window_) DestroyWindow(window_);
  if (icon) DestroyIcon(icon);
  if (logo) DeleteObject(logo);
}

controls::CSimpleLink& TestDialog::Link(int id) { return links_[id == kTopicLink ? 0 : id == kSiteLink ? 1 : 2]; }

void TestDialog::ShowAt(int x, int y) {
  SetWindowPos(window_, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(window_);
  UpdateWindow(window_);
  // Activation and the frame come through the queue.
  PumpUntil([this] { return GetForegroundWindow() == window_ && !eraseResults.empty(); }, 10000);
}

INT_PTR CALLBACK TestDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    return TRUE;
  }
  auto* self = reinterpret_cast<TestDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_COMMAND:
      // Only the links' commands: the edit box reports its own changes too.
      if (LOWORD(wParam) == kTopicLink || LOWORD(wParam) == kSiteLink || LOWORD(wParam) == kCommunityLink)
        self->commands.push_back({wParam, lParam});
      return TRUE;
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(window, &client);
      const LRESULT result = controls::PaintDialogSurface(reinterpret_cast<HDC>(wParam), client,
                                                          win::DpiForWindow(window), self->icon, self->logo);
      self->eraseResults.push_back(result);
      SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace test
