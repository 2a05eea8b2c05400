#include "ui/dialog_template.h"

#include "base/text.h"

namespace {

constexpr std::uint32_t kDialogStyle =
    0x80C808C0;  // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME | DS_SETFONT
constexpr std::uint32_t kChildVisible = 0x50000000;
constexpr std::uint32_t kTabStop = 0x00010000;
constexpr std::uint32_t kDefPushButton = 0x00000001, kAutoCheckBox = 0x00000003;

void PushHeader(DialogTemplate& t, std::uint16_t controls, std::int16_t width, std::int16_t height,
                const std::wstring& title) {
  t.PushDword(kDialogStyle);
  t.PushDword(0);  // extended style
  t.PushWord(controls);
  for (std::int16_t v : {std::int16_t{0}, std::int16_t{0}, width, height}) t.PushWord(static_cast<std::uint16_t>(v));
  t.PushWord(0);  // no menu
  t.PushWord(0);  // the standard dialog class
  t.PushString(title);
  t.PushWord(9);  // font point size (DS_SETFONT)
  t.PushString(L"Segoe UI");
}

}  // namespace

void DialogTemplate::PushDword(std::uint32_t value) {
  PushWord(static_cast<std::uint16_t>(value & 0xFFFF));
  PushWord(static_cast<std::uint16_t>(value >> 16));
}

void DialogTemplate::PushString(const std::wstring& text) {
  for (wchar_t c : text) PushWord(static_cast<std::uint16_t>(c));
  PushWord(0);
}

void DialogTemplate::AlignDword() {
  if ((words_.size() * 2) % 4 != 0) PushWord(0);
}

void DialogTemplate::AddControl(std::uint32_t style, std::int16_t x, std::int16_t y, std::int16_t width,
                                std::int16_t height, std::uint16_t id, std::uint16_t class_atom,
                                const std::wstring& text) {
  AddRawControl(style | kChildVisible, x, y, width, height, id, class_atom, text);
}

void DialogTemplate::AddRawControl(std::uint32_t style, std::int16_t x, std::int16_t y, std::int16_t width,
                                   std::int16_t height, std::uint16_t id, std::uint16_t class_atom,
                                   const std::wstring& text) {
  AlignDword();
  PushDword(style);
  PushDword(0);  // extended style
  for (std::int16_t v : {x, y, width, height}) PushWord(static_cast<std::uint16_t>(v));
  PushWord(id);
  PushWord(0xFFFF);
  PushWord(class_atom);
  PushString(text);
  PushWord(0);  // no creation data
}

DialogTemplate BuildSettingsTemplate() {
  DialogTemplate t;
  PushHeader(t, 8, 430, 105, L"Settings \u2014 Ostrelhold");
  t.AddControl(0, 7, 7, 80, 10, 100, DialogTemplate::kStatic, L"WoW Install Path:");
  t.AddControl(0x00810080, 7, 19, 330, 14, 101, DialogTemplate::kEdit, L"");  // WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL
  t.AddControl(kTabStop, 342, 19, 80, 14, 102, DialogTemplate::kButton, L"Browse...");
  t.AddControl(kTabStop | kAutoCheckBox, 7, 42, 200, 12, 103, DialogTemplate::kButton,
               L"Close launcher when game starts");
  t.AddControl(0x00000010, 7, 60, 415, 1, 104, DialogTemplate::kStatic, L"");  // SS_ETCHEDHORZ
  t.AddControl(kTabStop | kDefPushButton, 255, 70, 75, 14, 1, DialogTemplate::kButton, L"OK");
  t.AddControl(kTabStop, 337, 70, 75, 14, 2, DialogTemplate::kButton, L"Cancel");
  // Last in the tab order, on the left of the button row, aligned with the controls above.
  t.AddControl(kTabStop, 7, 70, 75, 14, kCheckAllFilesButton, DialogTemplate::kButton, L"Check all files");
  return t;
}

const DialogTemplate& SettingsTemplate() {
  static const DialogTemplate settings = BuildSettingsTemplate();  // thread-safe first use
  return settings;
}

DialogTemplate BuildAddonsTemplate(const std::vector<AddonEntry>& entries) {
  // Header arithmetic is 16-bit, as the template's fields are.
  const auto n = static_cast<std::uint16_t>(entries.size());
  DialogTemplate t;
  PushHeader(t, static_cast<std::uint16_t>(2 * n + 3), 340, static_cast<std::int16_t>(18 * n + 62),
             L"Addons \u2014 Ostrelhold");
  t.AddControl(0, 7, 7, 320, 10, 200, DialogTemplate::kStatic, L"Check to install  /  Uncheck to remove:");
  for (std::uint16_t i = 0; i < n; ++i) {
    const auto y = static_cast<std::int16_t>(18 * i + 20);
    t.AddRawControl(kChildVisible | kTabStop | kAutoCheckBox, 7, y, 170, 12, static_cast<std::uint16_t>(300 + i),
                    DialogTemplate::kButton, Widen(entries[i].name));
    t.AddRawControl(kChildVisible, 185, y, 148, 12, static_cast<std::uint16_t>(400 + i), DialogTemplate::kStatic, L"");
  }
  const auto buttons_y = static_cast<std::int16_t>(18 * n + 44);
  t.AddControl(kTabStop | kDefPushButton, 170, buttons_y, 75, 14, 1, DialogTemplate::kButton, L"Apply");
  t.AddControl(kTabStop, 252, buttons_y, 75, 14, 2, DialogTemplate::kButton, L"Close");
  return t;
}
