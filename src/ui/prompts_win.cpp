#include "ui/prompts_win.h"

#include <objbase.h>
#include <shlobj.h>

namespace {

class SystemPromptsImpl : public Prompts {
 public:
  std::optional<std::wstring> PickFolder(HWND owner, const std::wstring& title, UINT flags) override {
    wchar_t path[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pszDisplayName = path;
    info.lpszTitle = title.c_str();
    info.ulFlags = flags;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (item == nullptr) return std::nullopt;
    const bool has_path = SHGetPathFromIDListW(item, path);
    CoTaskMemFree(item);
    if (!has_path) return std::nullopt;
    return std::wstring(path);
  }

  int Message(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) override {
    return MessageBoxW(owner, text.c_str(), caption.c_str(), style);
  }
};

}  // namespace

Prompts& SystemPrompts() {
  static SystemPromptsImpl prompts;
  return prompts;
}
