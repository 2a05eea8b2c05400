#include "app/launcher_state.h"

const wchar_t* LauncherStateName(LauncherState state) {
  switch (state) {
    case LauncherState::Connecting: return L"Connecting";
    case LauncherState::Verifying: return L"Verifying";
    case LauncherState::Updating: return L"Updating";
    case LauncherState::Ready: return L"Ready";
    case LauncherState::Error: return L"Error";
    case LauncherState::Offline: return L"Offline";
    case LauncherState::NoInstall: return L"NoInstall";
  }
  return L"Unknown";
}
