// The main window's actions on the game and its client: PLAY and the tray,
// DOWNLOAD CLIENT, I HAVE WOW, ADDONS and the settings dialog. All run on the
// user-interface thread.
#include "ui/main_window_win.h"

#include <shlobj.h>

#include <string>

#include "app/client_install.h"
#include "app/controller.h"
#include "base/text.h"
#include "game/addons.h"
#include "game/client_folder.h"
#include "game/client_install.h"
#include "game/game_launch.h"
#include "log/log.h"
#include "ui/dialogs_win.h"
#include "ui/window_messages.h"
#include "ui/window_scale.h"

namespace {

constexpr UINT kTrayIconId = 1;

bool IsWorkInProgress(LauncherState state) {
  return state == LauncherState::Connecting || state == LauncherState::Verifying || state == LauncherState::Updating;
}

}  // namespace

void MainWindow::PlayGame() {
  const LauncherState state = State();
  if (!IsPlayable(state)) return;
  const std::wstring wow_dir = WowDir();
  if (wow_dir.empty()) {
    OpenSettings();
    return;
  }
  if (IsGameRunning()) return;

  std::string error;
  if (!LaunchWow(wow_dir, LaunchOptions{}, error)) {
    ShowError(Widen(error));
    return;
  }

  state_at_launch = state;
  status_at_launch = StatusText();
  if (close_on_launch) {
    tray_icon = NOTIFYICONDATAW{};
    tray_icon.cbSize = sizeof tray_icon;
    tray_icon.hWnd = hwnd;
    tray_icon.uID = kTrayIconId;
    tray_icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray_icon.uCallbackMessage = WM_TRAY_ICON;
    // The icon resource's image of the size for this monitor's DPI.
    const int icon_size = TrayIconSize(GetDpiForWindow(hwnd));
    tray_image.Reset(
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, icon_size, icon_size, 0)));
    tray_icon.hIcon = tray_image.get() ? tray_image.get() : LoadIconW(instance, MAKEINTRESOURCEW(1));
    wcsncpy(tray_icon.szTip, L"Ostrelhold", 127);
    Shell_NotifyIconW(NIM_ADD, &tray_icon);
    ShowWindow(hwnd, SW_HIDE);
    in_tray = true;
  }
  WatchGame([window = hwnd] { PostMessageW(window, WM_GAME_EXITED, 0, 0); });
}

void MainWindow::OnGameExited() {
  if (in_tray) RestoreFromTray();
  // Back to what the screen showed at the start (Offline stays Offline), unless
  // work started meanwhile, such as an addon installation, is still running.
  if (!IsWorkInProgress(State())) {
    SetStatusText(status_at_launch);
    SetState(state_at_launch);
  }
  Repaint();
  server_status.RequestRefresh();
  Log::Info(L"Game exited");
}

void MainWindow::RestoreFromTray() {
  Shell_NotifyIconW(NIM_DELETE, &tray_icon);
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  in_tray = false;
}

void MainWindow::OnTrayIcon(LPARAM event) {
  if (event == WM_LBUTTONDBLCLK) RestoreFromTray();
}

void MainWindow::RemoveTrayIcon() { Shell_NotifyIconW(NIM_DELETE, &tray_icon); }

void MainWindow::StartClientInstall() {
  ::StartClientInstall(
      *this,
      [this] {
        return prompts->PickFolder(hwnd, L"Choose install folder (e.g. C:\\OstrelWoW)",
                                   BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE);
      },
      MakeSystemInstallBackend());
}

void MainWindow::LocateClient() {
  if (ClientInstallBusy()) return;  // the installation decides the client folder
  const auto folder = prompts->PickFolder(hwnd, L"Select your WoW 3.3.5a installation folder (must contain Wow.exe)",
                                          BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE);
  if (!folder) return;
  if (!PathExists(ClientPath(*folder, ClientFolder::kExecutable))) {
    prompts->Message(hwnd,
                     L"Wow.exe was not found in the selected folder.\n"
                     L"Please choose your WoW 3.3.5a installation directory.",
                     L"WoW Not Found", MB_ICONWARNING | MB_OK);
    return;
  }
  SetWowDir(*folder);
  SaveSettings();
  Log::Info(L"WoW located by user: " + *folder);
  SetUpdater(nullptr);
  const Manifest manifest = CurrentManifest();
  if (manifest.game_files.empty() && manifest.realmList.empty()) {
    SetStatusText(L"Update server unreachable. Playing in offline mode.");
    SetState(LauncherState::Offline);
    Repaint();
    return;
  }
  // The run has started but not reported: no second locate or install meanwhile.
  SetState(LauncherState::Connecting);
  Repaint();
  StartUpdateRun(*this, manifest, OnUpdaterProgressQuiet);
}

void MainWindow::ManageAddons() {
  const Manifest manifest = CurrentManifest();
  const std::wstring wow_dir = WowDir();
  AddonsDialogData data;
  data.entries = ListAddons(manifest, wow_dir, PathExists);
  if (data.entries.empty()) {
    prompts->Message(hwnd, L"No addons found in manifest.", L"Addons", MB_ICONINFORMATION | MB_OK);
    return;
  }
  data.selected.assign(data.entries.size(), false);
  if (RunAddonsDialog(hwnd, instance, data) != IDOK) return;

  Manifest install = manifest;
  install.game_files =
      ApplyAddonChoices(wow_dir, data.entries, data.selected,
                        {RemoveFolderTree, [](const std::wstring& file) { DeleteFileW(file.c_str()); }});
  if (install.game_files.empty()) {
    Repaint();
    return;
  }
  Log::Info(L"Installing " + std::to_wstring(install.game_files.size()) + L" addon(s)");
  CancelUpdater();
  SetState(LauncherState::Updating);
  Repaint();
  StartUpdateRun(*this, install, OnAddonProgress, RecordUse::None);
}

void MainWindow::OpenSettings() {
  SettingsDialogData data{WowDir(), close_on_launch, instance, prompts};
  const INT_PTR result = RunSettingsDialog(hwnd, data);
  if (result != IDOK && result != kCheckAllFiles) return;
  SetWowDir(data.wow_dir);
  close_on_launch = data.close_on_launch;
  SaveSettings();
  Log::Info(L"Settings saved. WoW dir: " + data.wow_dir);
  if (result != kCheckAllFiles) return;
  // As at start-up, a folder without Wow.exe is never filled with the realm's files.
  if (!PathExists(ClientPath(data.wow_dir, ClientFolder::kExecutable))) {
    Log::Warn(L"Check all files: no Wow.exe in " + data.wow_dir);
    return;
  }
  StartFullCheck(*this, IsGameRunning());
}
