#include "ui/dialogs_win.h"

#include <shlobj.h>

#include "ui/dialog_template.h"

namespace {

constexpr int kFolderField = 101, kBrowse = 102, kCloseOnLaunch = 103;
constexpr int kFirstCheckBox = 300, kFirstStatus = 400;

template <class Data>
Data* DialogData(HWND dialog) {
  return reinterpret_cast<Data*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

INT_PTR RunDialog(HINSTANCE instance, const DialogTemplate& t, HWND owner, DLGPROC proc, void* data) {
  return DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(t.words().data()), owner, proc,
                                 reinterpret_cast<LPARAM>(data));
}

}  // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    const auto& data = *reinterpret_cast<SettingsDialogData*>(lparam);
    SetDlgItemTextW(dialog, kFolderField, data.wow_dir.c_str());
    CheckDlgButton(dialog, kCloseOnLaunch, data.close_on_launch ? BST_CHECKED : BST_UNCHECKED);
    return 1;
  }
  if (message != WM_COMMAND) return 0;
  SettingsDialogData* data = DialogData<SettingsDialogData>(dialog);
  if (data == nullptr) return 0;
  switch (LOWORD(wparam)) {
    case IDOK:
    case kCheckAllFiles: {
      wchar_t folder[MAX_PATH] = {};  // longer text is cut to 259 characters
      GetDlgItemTextW(dialog, kFolderField, folder, MAX_PATH);
      data->wow_dir = folder;
      data->close_on_launch = IsDlgButtonChecked(dialog, kCloseOnLaunch) == BST_CHECKED;
      EndDialog(dialog, LOWORD(wparam));
      return 1;
    }
    case IDCANCEL: EndDialog(dialog, IDCANCEL); return 1;
    case kBrowse: {
      const auto folder = data->prompts->PickFolder(dialog, L"Select your WoW 3.3.5a install folder",
                                                    BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE);
      if (folder) SetDlgItemTextW(dialog, kFolderField, folder->c_str());
      return 1;
    }
    default: return 0;
  }
}

INT_PTR CALLBACK AddonsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    const auto& data = *reinterpret_cast<AddonsDialogData*>(lparam);
    for (size_t i = 0; i < data.entries.size(); ++i) {
      const bool installed = data.entries[i].installed;
      CheckDlgButton(dialog, kFirstCheckBox + static_cast<int>(i), installed ? BST_CHECKED : BST_UNCHECKED);
      SetDlgItemTextW(dialog, kFirstStatus + static_cast<int>(i), installed ? L"Installed" : L"Not installed");
    }
    return 1;
  }
  if (message != WM_COMMAND) return 0;
  AddonsDialogData* data = DialogData<AddonsDialogData>(dialog);
  if (data == nullptr) return 0;
  switch (LOWORD(wparam)) {
    case IDOK:
      for (size_t i = 0; i < data->selected.size(); ++i) {
        data->selected[i] = IsDlgButtonChecked(dialog, kFirstCheckBox + static_cast<int>(i)) == BST_CHECKED;
      }
      EndDialog(dialog, IDOK);
      return 1;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); return 1;
    default: return 0;
  }
}

INT_PTR RunSettingsDialog(HWND owner, SettingsDialogData& data) {
  return RunDialog(data.instance, SettingsTemplate(), owner, SettingsDialogProc, &data);
}

INT_PTR RunAddonsDialog(HWND owner, HINSTANCE instance, AddonsDialogData& data) {
  return RunDialog(instance, BuildAddonsTemplate(data.entries), owner, AddonsDialogProc, &data);
}
