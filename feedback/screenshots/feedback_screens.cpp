// Pictures of the feedback UI in a browser stand-in on a desktop: a logon page with the icon beside
// its password field, the training prompt, the open menu of a trained page, both dialogs, the page
// scrolled so that the icon is clipped to the content area, and the icon and training prompt at
// 144 dpi. Run under Wine's X11 driver by "./run screenshots", which takes each picture when this
// program says a scene is ready:
//
//   feedback_screens.exe HANDSHAKE_FOLDER
//
// For each scene the program writes "<scene>.ready" (the screen rectangle to keep: x y width height)
// and waits for "<scene>.done". It reads two captures back: "login.bmp", to check that the icon's
// pixels lie beside the password field, and "scrolled.bmp", to check that none of them lie outside
// the content area; the exit code says whether both hold.
#include <windows.h>

#include <commctrl.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "agentcomm/transport/RegisteredMessages.h"
#include "feedback/FeedbackUI.h"
#include "feedback/WindowTracking.h"
#include "feedback/ui_handles.h"
#include "tracecore/win_handles.h"

namespace {

constexpr const wchar_t* kDomain = L"bank.example.com";
std::wstring g_dir;

// --- the handshake with the script ------------------------------------------------------------

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void pump_for(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

RECT unite(RECT a, RECT b) {
  RECT r{};
  UnionRect(&r, &a, &b);
  return r;
}
RECT grown(RECT r, int by) {
  InflateRect(&r, by, by);
  return r;
}
RECT window_rect(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r;
}

void say_ready(const wchar_t* scene, RECT keep) {
  std::ofstream out(std::filesystem::path(g_dir + L"\\" + scene + L".ready.tmp"));
  out << keep.left << ' ' << keep.top << ' ' << keep.right - keep.left << ' ' << keep.bottom - keep.top << '\n';
  out.close();
  MoveFileExW((g_dir + L"\\" + scene + L".ready.tmp").c_str(), (g_dir + L"\\" + scene + L".ready").c_str(),
              MOVEFILE_REPLACE_EXISTING);
}
bool done(const wchar_t* scene) { return exists(g_dir + L"\\" + scene + L".done"); }

// A scene shown by a plain call: ready, then wait for the picture.
bool capture(const wchar_t* scene, RECT keep) {
  pump_for(400);  // let everything paint
  say_ready(scene, keep);
  for (int i = 0; i < 3000 && !done(scene); ++i) pump_for(10);
  return done(scene);
}

// A scene inside a modal loop (menu, dialog): a thread timer finds the window, says ready, waits for
// the picture and then closes the window with |close|.
class modal_scene_t {
 public:
  modal_scene_t(const wchar_t* scene, const wchar_t* cls, std::function<RECT(HWND)> keep, std::function<void(HWND)> close)
      : scene_(scene), cls_(cls), keep_(std::move(keep)), close_(std::move(close)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 50, &modal_scene_t::tick);
  }
  ~modal_scene_t() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  bool captured() const { return captured_; }

 private:
  static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    modal_scene_t* s = current_;
    if (!s) return;
    HWND w = FindWindowW(s->cls_, nullptr);
    if (!w || !IsWindowVisible(w)) return;
    if (!s->ready_) {
      if (++s->settle_ < 8) return;  // a few ticks to paint
      say_ready(s->scene_, s->keep_(w));
      s->ready_ = true;
      s->since_ = GetTickCount();
      return;
    }
    if (done(s->scene_) || GetTickCount() - s->since_ > 30000) {
      s->captured_ = done(s->scene_);
      KillTimer(nullptr, s->timer_);
      s->close_(w);
    }
  }

  static inline modal_scene_t* current_ = nullptr;
  const wchar_t* scene_;
  const wchar_t* cls_;
  std::function<RECT(HWND)> keep_;
  std::function<void(HWND)> close_;
  UINT_PTR timer_ = 0;
  int settle_ = 0;
  bool ready_ = false;
  bool captured_ = false;
  DWORD since_ = 0;
};

// --- the desktop and the browser stand-in ----------------------------------------------------

void delete_gdi_object(HGDIOBJ h) noexcept { DeleteObject(h); }
template <class T>
using unique_gdi = tracecore::unique_any<tracecore::null_none<T, &delete_gdi_object>>;
using unique_hfont = unique_gdi<HFONT>;
using unique_hbrush = unique_gdi<HBRUSH>;

unique_hfont font(int height, int weight, bool underline = false, const wchar_t* face = L"Tahoma",
                  DWORD charset = DEFAULT_CHARSET) {
  return unique_hfont(CreateFontW(height, 0, 0, 0, weight, FALSE, underline, FALSE, charset, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, face));
}

void register_class(const wchar_t* name, WNDPROC proc, HBRUSH background) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

// The user's desktop behind the browser (no window manager draws one): the whole screen in the
// desktop colour, at the bottom of the z-order, never active.
class desktop_t {
 public:
  desktop_t() {
    register_class(L"KxScreensDesktop", DefWindowProcW, GetSysColorBrush(COLOR_DESKTOP));
    hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"KxScreensDesktop", L"", WS_POPUP, 0, 0,
                            GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    SetWindowPos(hwnd_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  }
  ~desktop_t() { DestroyWindow(hwnd_); }
  desktop_t(const desktop_t&) = delete;
  desktop_t& operator=(const desktop_t&) = delete;

 private:
  HWND hwnd_ = nullptr;
};

// Where the browser window and its page's parts lie. Page coordinates are those of the unscrolled
// page; the controls' x positions count from the page's left edge.
namespace layout {
constexpr RECT kFrame{120, 80, 1144, 780};  // the browser window on the screen: 1024 x 700
constexpr int kDesktopAround = 16;          // the desktop shown around it in the pictures
constexpr int kToolbar = 40;                // navigation buttons and address bar above the page
constexpr int kPageHeight = 960;            // the page is longer than the content area
constexpr int kBanner = 72;                 // the site's banner across the top of the page
constexpr int kLeft = 60;                   // the logon column
constexpr int kFieldWidth = 300, kFieldHeight = 26;
constexpr int kUserY = 204, kPasswordY = 268, kButtonY = 322;
constexpr int kSideWidth = 340;  // the security note right of the logon column
}  // namespace layout

// A browser window: a frame of the browser's class with back and forward buttons and an address
// bar above a content window of the browser's content class, showing a bank's logon page with real
// edit controls.
class page_t {
 public:
  page_t() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    register_class(L"MozillaUIWindowClass", &page_t::frame_proc, GetSysColorBrush(COLOR_BTNFACE));
    register_class(L"MozillaContentWindowClass", &page_t::content_proc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

    const RECT& f = layout::kFrame;
    frame_ = CreateWindowExW(0, L"MozillaUIWindowClass", L"Example Bank - Log on", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                             f.left, f.top, f.right - f.left, f.bottom - f.top, nullptr, nullptr, instance, nullptr);
    SetWindowLongPtrW(frame_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    RECT client{};
    GetClientRect(frame_, &client);
    const auto child = [&](DWORD ex, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h) {
      return CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, frame_, nullptr, instance, nullptr);
    };
    // Marlett's "3" and "4" are the left and right arrows.
    back_button_ = child(0, L"BUTTON", L"3", BS_PUSHBUTTON, 8, 6, 32, 28);
    forward_button_ = child(0, L"BUTTON", L"4", BS_PUSHBUTTON | WS_DISABLED, 42, 6, 32, 28);
    address_ = child(WS_EX_CLIENTEDGE, L"EDIT", L"https://bank.example.com/logon", ES_READONLY | ES_AUTOHSCROLL, 84, 7,
                     client.right - 92, 26);
    content_ = child(0, L"MozillaContentWindowClass", L"", WS_CLIPCHILDREN | WS_VSCROLL, 0, layout::kToolbar, client.right,
                     client.bottom - layout::kToolbar);
    SetWindowLongPtrW(content_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    arrows_font_ = font(16, FW_NORMAL, false, L"Marlett", SYMBOL_CHARSET);
    banner_font_ = font(30, FW_BOLD);
    title_font_ = font(21, FW_BOLD);
    bold_font_ = font(15, FW_BOLD);
    text_font_ = font(15, FW_NORMAL);
    link_font_ = font(15, FW_NORMAL, true);
    small_font_ = font(13, FW_NORMAL);
    banner_brush_.reset(CreateSolidBrush(kBannerColour));
    note_brush_.reset(CreateSolidBrush(RGB(238, 243, 250)));

    const auto on_page = [&](const wchar_t* cls, const wchar_t* text, DWORD ex, DWORD style, int y, int w, int h) {
      HWND made = CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, layout::kLeft, y, w, h, content_, nullptr,
                                  instance, nullptr);
      controls_.push_back({made, layout::kLeft, y});
      return made;
    };
    on_page(L"EDIT", L"alice@example.com", WS_EX_CLIENTEDGE, ES_AUTOHSCROLL, layout::kUserY, layout::kFieldWidth,
                    layout::kFieldHeight);
    password_ = on_page(L"EDIT", L"secret-password", WS_EX_CLIENTEDGE, ES_AUTOHSCROLL | ES_PASSWORD, layout::kPasswordY,
                        layout::kFieldWidth, layout::kFieldHeight);
    on_page(L"BUTTON", L"Log on", 0, BS_DEFPUSHBUTTON, layout::kButtonY, 96, 30);
    for (const auto& c : controls_) SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(text_font_.get()), TRUE);
    SendMessageW(address_, WM_SETFONT, reinterpret_cast<WPARAM>(text_font_.get()), TRUE);
    for (HWND h : {back_button_, forward_button_}) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(arrows_font_.get()), TRUE);
    scroll_to(0);

    ShowWindow(frame_, SW_SHOWNORMAL);
    UpdateWindow(frame_);
    SetForegroundWindow(frame_);
  }
  ~page_t() { DestroyWindow(frame_); }
  page_t(const page_t&) = delete;
  page_t& operator=(const page_t&) = delete;

  HWND frame() const { return frame_; }
  HWND content() const { return content_; }
  HWND password() const { return password_; }
  // The password field in client coordinates of the content window, as the page reports it.
  RECT password_rect() const {
    RECT r = window_rect(password_);
    MapWindowPoints(nullptr, content_, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  // What the suite's hooks hand the communication window of this browser window.
  void forward_to(ffagent_window::feedback_i* feedback) { forward_ = feedback; }
  void set_heading(const wchar_t* text) {
    heading_ = text;
    InvalidateRect(content_, nullptr, TRUE);
  }
  // The page scrolled down by |dy| pixels: its controls and texts move up.
  void scroll_to(int dy) {
    scroll_ = dy;
    for (const auto& c : controls_)
      SetWindowPos(c.hwnd, nullptr, c.x, c.y - dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(content_, &client);
    SCROLLINFO bar{sizeof bar, SIF_ALL, 0, layout::kPageHeight - 1, static_cast<UINT>(client.bottom), dy, 0};
    SetScrollInfo(content_, SB_VERT, &bar, TRUE);
    InvalidateRect(content_, nullptr, TRUE);
    UpdateWindow(content_);
  }
  // How far the page scrolls for the password field to lie half under the content's top edge.
  static int half_under_the_top() { return layout::kPasswordY + layout::kFieldHeight / 2; }

 private:
  static constexpr COLORREF kBannerColour = RGB(20, 60, 120), kText = RGB(40, 40, 40), kLink = RGB(20, 90, 180);

  static LRESULT CALLBACK frame_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<page_t*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    // The address bar is read-only but drawn white, as browsers do.
    if (msg == WM_CTLCOLORSTATIC && self && reinterpret_cast<HWND>(lparam) == self->address_) {
      SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    const LRESULT r = DefWindowProcW(hwnd, msg, wparam, lparam);
    if (self && self->forward_ && (msg == WM_ACTIVATE || msg == WM_SHOWWINDOW || msg == WM_WINDOWPOSCHANGED))
      self->forward_->handle_message(msg, wparam, lparam);
    return r;
  }
  static LRESULT CALLBACK content_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<page_t*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_PAINT && self) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      self->paint(hwnd, dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
  }

  // The page: the bank's banner, the logon column with the fields' labels, a security note beside
  // it, three offers, frequent questions and the footer.
  void paint(HWND hwnd, HDC dc) const {
    RECT client{};
    GetClientRect(hwnd, &client);
    const int width = client.right, dy = scroll_;
    SetBkMode(dc, TRANSPARENT);
    const auto text = [&](HFONT f, COLORREF colour, int x, int y, const wchar_t* s) {
      ffui::select_object_t chosen(dc, f);
      SetTextColor(dc, colour);
      TextOutW(dc, x, y - dy, s, lstrlenW(s));
    };
    const auto block = [&](HFONT f, COLORREF colour, RECT r, const wchar_t* s, UINT format = DT_WORDBREAK) {
      ffui::select_object_t chosen(dc, f);
      SetTextColor(dc, colour);
      OffsetRect(&r, 0, -dy);
      DrawTextW(dc, s, -1, &r, format | DT_NOPREFIX);
    };
    const auto box = [&](RECT r, HBRUSH fill, COLORREF edge) {
      OffsetRect(&r, 0, -dy);
      FillRect(dc, &r, fill);
      unique_hbrush frame(CreateSolidBrush(edge));
      FrameRect(dc, &r, frame.get());
    };
    const auto rule = [&](int y) {
      RECT r{layout::kLeft, y - dy, width - layout::kLeft, y - dy + 1};
      FillRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
    };

    // The banner with the bank's name and its sections.
    RECT banner{0, -dy, width, layout::kBanner - dy};
    FillRect(dc, &banner, banner_brush_.get());
    text(banner_font_.get(), RGB(255, 255, 255), layout::kLeft, 20, heading_.c_str());
    block(text_font_.get(), RGB(200, 215, 240), {width - 520, 28, width - layout::kLeft, 50},
          L"Accounts      Cards      Loans      Savings      Help", DT_RIGHT | DT_SINGLELINE);

    // The logon column.
    const int x = layout::kLeft;
    text(title_font_.get(), kBannerColour, x, 104, L"Log on to online banking");
    text(text_font_.get(), kText, x, 142, L"Please log on to your accounts.");
    text(text_font_.get(), kText, x, layout::kUserY - 22, L"User name");
    text(text_font_.get(), kText, x, layout::kPasswordY - 22, L"Password");
    text(text_font_.get(), kText, x, 372, L"Forgot your password? Call us on 0100 000 000.");
    text(link_font_.get(), kLink, x, 396, L"Register for online banking");

    // The security note.
    const RECT note{width - layout::kLeft - layout::kSideWidth, 104, width - layout::kLeft, 300};
    box(note, note_brush_.get(), RGB(200, 212, 230));
    text(bold_font_.get(), kBannerColour, note.left + 20, note.top + 18, L"Your security");
    block(text_font_.get(), kText, {note.left + 20, note.top + 46, note.right - 20, note.bottom - 12},
          L"Example Bank never asks for your password by e-mail or on the phone.\n\nBefore you log on, check "
          L"that the address bar shows https://bank.example.com.");

    // Three offers side by side.
    rule(440);
    const struct {
      const wchar_t* title;
      const wchar_t* body;
    } offers[] = {{L"Banking on the go", L"Check your balance and pay bills from your phone with the Example Bank app."},
                  {L"Savings accounts", L"Put money aside every month and watch it grow at 2.1% a year."},
                  {L"Card services", L"Block a lost card, order a new PIN or change your limit online."}};
    const int column = (width - 2 * layout::kLeft) / 3;
    for (int i = 0; i < 3; ++i) {
      const int left = x + i * column;
      text(bold_font_.get(), kBannerColour, left, 462, offers[i].title);
      block(text_font_.get(), kText, {left, 486, left + column - 30, 560}, offers[i].body);
    }

    // Frequent questions.
    rule(590);
    text(title_font_.get(), kBannerColour, x, 610, L"Frequent questions");
    const wchar_t* questions[] = {L"How do I reset my password?", L"What do I do if my card is lost or stolen?",
                                  L"How can I change my address?", L"Where can I find my account statements?",
                                  L"How do I set up a standing order?"};
    int y = 648;
    for (const wchar_t* q : questions) {
      text(link_font_.get(), kLink, x, y, q);
      y += 28;
    }

    // The footer at the end of the page.
    rule(layout::kPageHeight - 60);
    text(small_font_.get(), RGB(110, 110, 110), x, layout::kPageHeight - 44,
         L"\x00a9 Example Bank    Privacy    Security    Accessibility    Contact us");
  }

  struct control_t {
    HWND hwnd;
    int x, y;  // on the unscrolled page
  };
  HWND frame_ = nullptr, back_button_ = nullptr, forward_button_ = nullptr, address_ = nullptr, content_ = nullptr;
  HWND password_ = nullptr;
  std::vector<control_t> controls_;
  unique_hfont arrows_font_, banner_font_, title_font_, bold_font_, text_font_, link_font_, small_font_;
  unique_hbrush banner_brush_, note_brush_;
  ffagent_window::feedback_i* forward_ = nullptr;
  std::wstring heading_ = L"Example Bank";
  int scroll_ = 0;
};

// The communication window's side of the icon menu.
class comm_t {
 public:
  comm_t() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &comm_t::proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KxScreensComm";
    RegisterClassExW(&wc);
    hwnd_ = CreateWindowExW(0, L"KxScreensComm", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }
  ~comm_t() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }
  static inline LRESULT state_word = 0x33;

 private:
  static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == ffipc::registered(ffipc::kxmsg::fbiconmenu_request)) return lparam == 3 ? state_word : 0;
    return DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  HWND hwnd_ = nullptr;
};

// --- the check on the picture -----------------------------------------------------------------

struct picture_t {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;  // top-down
  bool load(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::vector<unsigned char> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return false;
    auto u32 = [&](size_t at) { return static_cast<std::uint32_t>(d[at] | d[at + 1] << 8 | d[at + 2] << 16 | d[at + 3] << 24); };
    const std::uint32_t offset = u32(10);
    width = static_cast<int>(u32(18));
    const int h = static_cast<int>(u32(22));
    const int bpp = d[28] | d[29] << 8;
    if ((bpp != 24 && bpp != 32) || width <= 0) return false;
    height = h < 0 ? -h : h;
    const size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    if (d.size() < offset + stride * height) return false;
    rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
      const unsigned char* row = &d[offset + stride * (h < 0 ? y : height - 1 - y)];
      for (int x = 0; x < width; ++x) {
        const unsigned char* p = row + x * (bpp / 8);
        unsigned char* o = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        o[0] = p[2], o[1] = p[1], o[2] = p[0];
      }
    }
    return true;
  }
  // The share of pixels in |r| (clipped) within |tolerance| of |colour|.
  double share(RECT r, COLORREF colour, int tolerance) const {
    int all = 0, close = 0;
    for (int y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, height); ++y)
      for (int x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, width); ++x) {
        const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        ++all;
        if (std::abs(p[0] - GetRValue(colour)) <= tolerance && std::abs(p[1] - GetGValue(colour)) <= tolerance &&
            std::abs(p[2] - GetBValue(colour)) <= tolerance)
          ++close;
      }
    return all ? static_cast<double>(close) / all : 0;
  }
};

// The page scrolled so that the field sits across the content's top edge: the icon is drawn only
// inside the content area, none of it over the address bar above.
bool icon_clipped_to_the_content(const std::wstring& bmp, HWND content, HWND icon) {
  picture_t picture;
  if (!picture.load(bmp)) {
    std::fprintf(stderr, "cannot read the capture\n");
    return false;
  }
  const COLORREF kIconBlue = RGB(30, 90, 190);
  RECT area{};
  GetClientRect(content, &area);
  MapWindowPoints(content, nullptr, reinterpret_cast<POINT*>(&area), 2);
  const RECT drawn = window_rect(icon);
  const RECT above{drawn.left, area.top - 20, drawn.right, area.top};
  const RECT below{drawn.left + 6, area.top, drawn.right - 6, drawn.bottom};
  const double over_toolbar = picture.share(above, kIconBlue, 24);
  const double shown = picture.share(below, kIconBlue, 24);
  std::printf("scrolled: icon window at %ld,%ld %ldx%ld, content from y %ld; icon colour %.0f%% above the content, %.0f%% in its part\n",
              drawn.left, drawn.top, drawn.right - drawn.left, drawn.bottom - drawn.top, area.top, over_toolbar * 100,
              shown * 100);
  return IsWindowVisible(icon) && drawn.top >= area.top && over_toolbar < 0.01 && shown > 0.3;
}

// The resting icon is a disc of (30, 90, 190) with light ridges (the branding stand-in's image 6).
bool icon_beside_the_field(const std::wstring& bmp, HWND password, HWND icon) {
  picture_t picture;
  if (!picture.load(bmp)) {
    std::fprintf(stderr, "cannot read the capture\n");
    return false;
  }
  const COLORREF kIconBlue = RGB(30, 90, 190);
  const RECT field = window_rect(password);
  // Where the icon belongs: right of the field, centred on it, 32 by 32.
  const int cx = field.right + 4 + 16, cy = (field.top + field.bottom) / 2;
  const RECT expected{cx - 10, cy - 10, cx + 10, cy + 10};
  const RECT inside_field{field.left + 4, field.top + 4, field.right - 4, field.bottom - 4};
  const double on_icon = picture.share(expected, kIconBlue, 24);
  const double on_field = picture.share(inside_field, kIconBlue, 24);
  const RECT drawn = window_rect(icon);
  std::printf("icon window at %ld,%ld %ldx%ld; field at %ld,%ld %ldx%ld; icon colour: %.0f%% beside the field, %.0f%% in it\n",
              drawn.left, drawn.top, drawn.right - drawn.left, drawn.bottom - drawn.top, field.left, field.top,
              field.right - field.left, field.bottom - field.top, on_icon * 100, on_field * 100);
  return on_icon > 0.5 && on_field < 0.01;
}

void prepare_registry() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring dll(exe);
  dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"KxBranding.dll";
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrix\\Branding\\Common", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                  nullptr);
  RegSetValueExW(key, L"DLLPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                 static_cast<DWORD>((dll.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Kestrix\\Settings", L"@balloon_counter::TrainingPrompt");
}

HWND visible(const wchar_t* cls) {
  HWND w = FindWindowW(cls, nullptr);
  return w && IsWindowVisible(w) ? w : nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: feedback_screens HANDSHAKE_FOLDER\n");
    return 2;
  }
  g_dir = argv[1];
  prepare_registry();
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);

  desktop_t desktop;
  page_t page;
  comm_t comm;
  auto ui = ffagent_window::make_feedback_ui();
  if (!ui->attach(comm.hwnd(), page.frame())) return 3;
  HWND icon = static_cast<ffagent_window::feedback_ui_t&>(*ui).icon().window();
  page.forward_to(ui.get());
  pump_for(300);
  SetForegroundWindow(page.frame());
  ui->set_attach(page.password_rect());
  const RECT frame = grown(window_rect(page.frame()), layout::kDesktopAround);

  // 1. A recognised logon page: the icon beside the password field.
  ui->show(kDomain, ffagent_window::icon_trained);
  if (!capture(L"login", frame)) return 4;
  const bool placed = icon_beside_the_field(g_dir + L"\\login.bmp", page.password(), icon);

  // 2. An unknown logon page: the training prompt.
  ui->hide();
  page.set_heading(L"Example Bank (new)");
  ui->show(kDomain, ffagent_window::icon_trainingprompt);
  pump_for(200);
  RECT keep = frame;
  if (HWND balloon = visible(L"tooltips_class32")) keep = unite(keep, grown(window_rect(balloon), 8));
  if (!capture(L"training-prompt", keep)) return 4;

  // 3. The open menu of a trained page.
  ui->hide();
  page.set_heading(L"Example Bank");
  ui->show(kDomain, ffagent_window::icon_trained);
  pump_for(200);
  comm_t::state_word = 0x33;
  {
    modal_scene_t scene(L"menu", L"#32768", [&](HWND menu) { return unite(frame, grown(window_rect(menu), 8)); },
                        [](HWND) { EndMenu(); });
    SendMessageW(icon, WM_RBUTTONDOWN, 0, MAKELPARAM(16, 16));
    SendMessageW(icon, WM_RBUTTONUP, 0, MAKELPARAM(16, 16));
    if (!scene.captured()) return 4;
  }

  // 4. Two recognised forms: the choose-manifest dialog.
  const auto close_with = [](int button) {
    return [button](HWND dialog) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); };
  };
  const auto dialog_keep = [&](HWND dialog) { return unite(frame, grown(window_rect(dialog), 8)); };
  {
    modal_scene_t scene(L"choose-manifest", L"#32770", dialog_keep, close_with(IDCANCEL));
    ui->selectoneform({L"Example Bank - Online banking logon", L"Example Bank - Change your password"});
    if (!scene.captured()) return 4;
  }

  // 5. The icon settings dialog.
  {
    modal_scene_t scene(L"icon-settings", L"#32770", dialog_keep, close_with(IDCANCEL));
    ui->iconsettings(0);
    if (!scene.captured()) return 4;
  }

  // 6. The page scrolled: the password field half under the content's top edge, the icon clipped.
  ui->hide();
  page.scroll_to(page_t::half_under_the_top());
  ui->show(kDomain, ffagent_window::icon_trained);
  ui->set_attach(page.password_rect());
  pump_for(300);
  if (!capture(L"scrolled", frame)) return 4;
  const bool clipped = icon_clipped_to_the_content(g_dir + L"\\scrolled.bmp", page.content(), icon);

  // 7. At 144 dpi: the larger icon, its gap and the wider balloon of the training prompt.
  ui->hide();
  page.scroll_to(0);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Kestrix\\Settings", L"@balloon_counter::TrainingPrompt");
  static_cast<ffagent_window::feedback_ui_t&>(*ui).icon().set_dpi(144);
  ui->set_attach(page.password_rect());
  page.set_heading(L"Example Bank (new)");
  ui->show(kDomain, ffagent_window::icon_trainingprompt);
  pump_for(200);
  keep = frame;
  if (HWND balloon = visible(L"tooltips_class32")) keep = unite(keep, grown(window_rect(balloon), 8));
  if (!capture(L"icon-144dpi", keep)) return 4;

  page.forward_to(nullptr);
  ui->detach();
  if (!placed) {
    std::fprintf(stderr, "the icon is not beside the password field in the picture\n");
    return 1;
  }
  if (!clipped) {
    std::fprintf(stderr, "the scrolled picture shows the icon outside the content area\n");
    return 1;
  }
  std::printf("all scenes captured; the icon is beside the password field and clipped to the content\n");
  return 0;
}
