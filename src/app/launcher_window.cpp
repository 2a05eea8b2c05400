#include "app/launcher_window.h"

#include <utility>

#include "log/log.h"

void LauncherWindow::SetState(LauncherState state) {
  if (state_.exchange(state) == state) return;
  std::wstring line = std::wstring(L"State: ") + LauncherStateName(state);
  // The log holds the reason the player was shown.
  const std::wstring reason = StatusText();
  if (state == LauncherState::Error || (state == LauncherState::Offline && !reason.empty())) {
    line += L" (" + reason + L")";
  }
  Log::Info(line);
  StateEntered(state);
}

std::wstring LauncherWindow::StatusText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_text_;
}

void LauncherWindow::SetStatusText(std::wstring text) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_text_ = std::move(text);
}

void LauncherWindow::ShowError(std::wstring text) {
  SetStatusText(std::move(text));
  SetState(LauncherState::Error);
  Repaint();
}

UpdaterProgress LauncherWindow::Progress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_;
}

void LauncherWindow::SetProgress(const UpdaterProgress& progress) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_ = progress;
}

Manifest LauncherWindow::CurrentManifest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return manifest_;
}

void LauncherWindow::SetManifest(Manifest manifest) {
  std::lock_guard<std::mutex> lock(mutex_);
  manifest_ = std::move(manifest);
}

std::shared_ptr<Updater> LauncherWindow::CurrentUpdater() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return updater_;
}

void LauncherWindow::SetUpdater(std::shared_ptr<Updater> updater) {
  std::shared_ptr<Updater> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = std::exchange(updater_, std::move(updater));
  }
  // `old` is released outside the lock: its run may still hold a share of it.
}

void LauncherWindow::CancelUpdater() {
  std::shared_ptr<Updater> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = std::move(updater_);
  }
  if (old) old->Cancel();
}

std::wstring LauncherWindow::WowDir() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wow_dir_;
}

void LauncherWindow::SetWowDir(std::wstring wow_dir) {
  std::lock_guard<std::mutex> lock(mutex_);
  wow_dir_ = std::move(wow_dir);
}

NewsList LauncherWindow::News() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return news_;
}

void LauncherWindow::SetNews(std::vector<NewsItem> news) {
  NewsList fresh = std::make_shared<const std::vector<NewsItem>>(std::move(news));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    news_.swap(fresh);
  }
  // The old list is released outside the lock (a paint may still hold it).
}

LauncherWindow::View LauncherWindow::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {state_.load(), status_text_, progress_, news_};
}
