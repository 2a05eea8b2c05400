#include "ui/main_window_win.h"

#include <windowsx.h>

#include <stdexcept>
#include <string>

#include "app/launcher_folder.h"
#include "data/text.h"
#include "game/client_folder.h"
#include "log/log.h"
#include "ui/gdiplus_win.h"

namespace {

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 720;
constexpr const wchar_t* kWindowClass = L"OstrelLauncherWnd";
constexpr const wchar_t* kWindowTitle = L"Ostrelhold";

MainWindow* BoundWindow(HWND hwnd) {
  return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
}

// 22 steps of 12 from 0 to 252, 10 ms apart; then the window drops the
// layered style and is fully opaque.
void FadeIn(HWND hwnd) {
  const LONG ex_style = GetWindowLongW(hwnd, GWL_EXSTYLE);
  SetWindowLongW(hwnd, GWL_EXSTYLE, ex_style | WS_EX_LAYERED);
  SetLayeredWindowAttributes(hwnd, 0, 0, LWA_ALPHA);
  for (int alpha = 0; alpha <= 255; alpha += 12) {
    SetLayeredWindowAttributes(hwnd, 0, static_cast<BYTE>(alpha), LWA_ALPHA);
    Sleep(10);
  }
  SetWindowLongW(hwnd, GWL_EXSTYLE, GetWindowLongW(hwnd, GWL_EXSTYLE) & ~WS_EX_LAYERED);
}

// A memory device context with a bitmap selected into it, released in reverse.
class OffscreenBuffer {
 public:
  OffscreenBuffer(HDC target, int width, int height)
      : dc_(CreateCompatibleDC(target)), bitmap_(CreateCompatibleBitmap(target, width, height)) {
    old_ = SelectObject(dc_, bitmap_);
  }
  ~OffscreenBuffer() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  OffscreenBuffer(const OffscreenBuffer&) = delete;
  OffscreenBuffer& operator=(const OffscreenBuffer&) = delete;
  HDC dc() const { return dc_; }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_ = nullptr;
};

}  // namespace

MainWindow& MainWindow::Instance() {
  static MainWindow window;
  return window;
}

int MainWindow::Run(HINSTANCE instance, int /*show_command: WS_VISIBLE shows the window*/) {
  RegisterWindowClass(instance);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
  HWND hwnd = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, kWindowTitle, WS_POPUP | WS_VISIBLE, x, y,
                              kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);

  MainWindow& self = Instance();
  self.hwnd = hwnd;
  self.instance = instance;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&self));

  self.OnCreate();
  FadeIn(hwnd);

  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void MainWindow::OnCreate() {
  Log::Info(L"OnCreate hwnd=" + std::to_wstring(reinterpret_cast<UINT_PTR>(hwnd)));
  CreateDirectoryW(LauncherPath(L"\\launcher_cache").c_str(), nullptr);

  const bool client_found =
      GetFileAttributesW(ClientPath(wow_dir, ClientFolder::kExecutable).c_str()) != INVALID_FILE_ATTRIBUTES;
  SetState(client_found ? LauncherState::Connecting : LauncherState::NoInstall);
  if (!client_found) Log::Info(L"Wow.exe not found — entering NoInstall state");

  Log::Info(L"OnCreate complete");
}

void MainWindow::OnDestroy() {}

void MainWindow::SetState(LauncherState new_state) {
  state = new_state;
  Log::Info(std::wstring(L"State: ") + LauncherStateName(new_state));
  Repaint();
}

void MainWindow::Repaint() const { InvalidateRect(hwnd, nullptr, FALSE); }

void MainWindow::OnClick(int x, int y) {
  switch (ClickTargetAt(x, y, state)) {
    case HoverTarget::Close: DestroyWindow(hwnd); break;
    case HoverTarget::Minimize: ShowWindow(hwnd, SW_MINIMIZE); break;
    default: break;
  }
}

void MainWindow::OnMouseMove(int x, int y) {
  if (!tracking_mouse) {
    TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd, 0};
    TrackMouseEvent(&tme);
    tracking_mouse = true;
  }
  const HoverTarget target = HoverTargetAt(x, y, state);
  if (target != hover) {
    hover = target;
    Repaint();
  }
}

void MainWindow::OnMouseLeave() {
  hover = HoverTarget::None;
  tracking_mouse = false;
  Repaint();
}

void MainWindow::Paint() {
  PAINTSTRUCT ps;
  HDC window_dc = BeginPaint(hwnd, &ps);
  RECT client{};
  GetClientRect(hwnd, &client);
  {
    OffscreenBuffer buffer(window_dc, client.right, client.bottom);
    {
      Gdiplus::Graphics g(buffer.dc());
      g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
      g.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
      Gdiplus::LinearGradientBrush sky(Gdiplus::Point(0, 0), Gdiplus::Point(0, client.bottom),
                                       Gdiplus::Color(255, 18, 24, 38), Gdiplus::Color(255, 6, 8, 14));
      g.FillRectangle(&sky, 0, 0, client.right, client.bottom);
      Gdiplus::SolidBrush strip(Gdiplus::Color(160, 0, 0, 0));
      g.FillRectangle(&strip, 0, 0, client.right, 36);

      // Close button: a cross, brighter while hovered.
      const BYTE glow = hover == HoverTarget::Close ? 255 : 190;
      Gdiplus::Pen pen(Gdiplus::Color(255, glow, glow, glow), 2.0f);
      g.DrawLine(&pen, 1251, 11, 1264, 24);
      g.DrawLine(&pen, 1264, 11, 1251, 24);
      // Minimise button: a bar.
      const BYTE dim = hover == HoverTarget::Minimize ? 255 : 190;
      Gdiplus::Pen bar(Gdiplus::Color(255, dim, dim, dim), 2.0f);
      g.DrawLine(&bar, 1220, 24, 1234, 24);
    }
    BitBlt(window_dc, 0, 0, client.right, client.bottom, buffer.dc(), 0, 0, SRCCOPY);
  }
  EndPaint(hwnd, &ps);
}

namespace {

LRESULT HandleUnbound(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_LBUTTONDOWN: return 0;
    default: return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

LRESULT HandleBound(MainWindow& self, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      self.OnDestroy();
      PostQuitMessage(0);
      return 0;
    case WM_PAINT: self.Paint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_NCHITTEST: {
      POINT pt{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      ScreenToClient(hwnd, &pt);
      return IsCaptionPoint(pt.x, pt.y) ? HTCAPTION : HTCLIENT;
    }
    case WM_MOUSEMOVE: self.OnMouseMove(LOWORD(lparam), HIWORD(lparam)); return 0;
    case WM_MOUSELEAVE: self.OnMouseLeave(); return 0;
    case WM_LBUTTONDOWN: self.OnClick(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)); return 0;
    default: return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  // No exception may unwind through the system's frames that called us.
  try {
    MainWindow* self = BoundWindow(hwnd);
    return self ? HandleBound(*self, hwnd, message, wparam, lparam)
                : HandleUnbound(hwnd, message, wparam, lparam);
  } catch (const std::exception& e) {
    Log::Error(L"Exception in window procedure: " + Widen(e.what()));
  } catch (...) {
    Log::Error(L"Unknown exception in window procedure");
  }
  return 0;
}
