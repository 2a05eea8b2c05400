// The settings and addons dialogs: their data records, their procedures, and
// running them modally from the in-memory templates.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "game/addons.h"
#include "ui/dialog_template.h"
#include "ui/prompts_win.h"

struct SettingsDialogData {
  std::wstring wow_dir;
  bool close_on_launch = true;
  HINSTANCE instance = nullptr;
  Prompts* prompts = nullptr;  // for Browse...
};

struct AddonsDialogData {
  std::vector<AddonEntry> entries;
  std::vector<bool> selected;  // one per entry, set from the check boxes on Apply
};

// The settings dialog's result for "Check all files": the choices are taken as
// on OK, and then every file of the client is to be read.
constexpr INT_PTR kCheckAllFiles = kCheckAllFilesButton;

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK AddonsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Runs the dialog modally, owned by `owner`: IDOK (1) for OK, kCheckAllFiles,
// IDCANCEL (2) for Cancel, Escape or the close box, -1 when it could not be
// shown. On OK and kCheckAllFiles the record holds what the player chose.
INT_PTR RunSettingsDialog(HWND owner, SettingsDialogData& data);
INT_PTR RunAddonsDialog(HWND owner, HINSTANCE instance, AddonsDialogData& data);
