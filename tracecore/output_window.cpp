// The console and debugger outputs: one text line per shown record.
#include <windows.h>

#include <cstdio>
#include <mutex>

#include "tracecore/com_error.h"
#include "tracecore/realtracer.h"
#include "tracecore/utf.h"
#include "tracecore/window_line.h"

namespace tracecore {
namespace {

std::string error_message(std::int32_t code) {
  if (code == 0) return {};
  std::string msg = errors::system_message(code);
  if (!msg.empty()) return msg;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(code));
  return buf;
}

// Shared by both outputs: formats, remembers the time text of the last "T" record.
class outputstoragewindow_t : public outputstorageinterface_t {
 public:
  void write(std::uint32_t thread, char kind, std::string_view text, const char* scope) override {
    if (kind == 'T') {
      time_.assign(text);
      return;
    }
    const std::string message = kind == 'E' ? error_message(error_record_code(text)) : std::string();
    const window_line_t line = format_window_line(thread, time_, scope ? scope : "main", kind, text, message);
    if (!line.shown) return;
    if (!opened_) {
      opened_ = true;
      open();
    }
    output_line(line.attribute, to_wide(line.text));
  }

 protected:
  virtual void open() {}
  virtual void output_line(int attribute, const std::wstring& line) = 0;

 private:
  std::string time_;
  bool opened_ = false;
};

// Ctrl+C and Ctrl+Break in the trace console are swallowed. Closing a console ends its process
// whatever the handler answers, so the console has no close command at all (remove_close_command).
BOOL WINAPI console_control(DWORD type) { return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT; }

class outputstorageconsole_t final : public outputstoragewindow_t {
 protected:
  void open() override {
    // Our own console only: a console the browser was started from is the user's.
    if (AllocConsole()) remove_close_command(GetConsoleWindow());
    screen_.reset(CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            CONSOLE_TEXTMODE_BUFFER, nullptr));
    if (screen_ && screen_.get() != INVALID_HANDLE_VALUE) {
      SetConsoleActiveScreenBuffer(screen_.get());
      out_ = screen_.get();
    } else {
      screen_.release();
      conout_.reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
      out_ = conout_.get();
    }
    wchar_t previous[512] = {};
    GetConsoleTitleW(previous, 512);
    wchar_t title[640];
    _snwprintf(title, 640, L"DBG [PID:%04X]: %s", static_cast<unsigned>(GetCurrentProcessId()), previous);
    title[639] = 0;
    SetConsoleTitleW(title);
    SetConsoleCtrlHandler(console_control, TRUE);
  }

  void output_line(int attribute, const std::wstring& line) override {
    if (!out_ || out_ == INVALID_HANDLE_VALUE) return;
    SetConsoleTextAttribute(out_, static_cast<WORD>(attribute));
    DWORD written = 0;
    WriteConsoleW(out_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    SetConsoleTextAttribute(out_, static_cast<WORD>(kDefaultAttribute));
  }

 private:
  unique_handle screen_;
  unique_hfile conout_;
  HANDLE out_ = nullptr;
};

class outputstorageide_t final : public outputstoragewindow_t {
 protected:
  void output_line(int, const std::wstring& line) override { OutputDebugStringW(line.c_str()); }
};

}  // namespace

void remove_close_command(HWND window) {
  if (!window) return;
  HMENU menu = GetSystemMenu(window, FALSE);
  if (!menu) return;
  DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
  DrawMenuBar(window);
}

std::unique_ptr<outputstorageinterface_t> make_console_output() { return std::make_unique<outputstorageconsole_t>(); }
std::unique_ptr<outputstorageinterface_t> make_debugger_output() { return std::make_unique<outputstorageide_t>(); }

}  // namespace tracecore
