#include "ui/fonts_win.h"

#include "log/log.h"

namespace {

// A slot's candidates in order: first the file an operator with a licence for
// the game's typefaces may put in (docs/OPERATORS.md), then the launcher's own.
constexpr LauncherFonts::Choice kOwnSerif{L"OstrelGoudy.ttf", L"Ostrel Goudy"};
constexpr LauncherFonts::Choice kTitleFonts[] = {{L"MORPHEUS.TTF", L"Morpheus"}, kOwnSerif};
constexpr LauncherFonts::Choice kLabelFonts[] = {{L"FRIZQT__.TTF", L"Friz Quadrata TT"}, kOwnSerif};
constexpr LauncherFonts::Choice kNarrowFonts[] = {{L"ARIALN.TTF", L"Arial Narrow"},
                                                  {L"DejaVuSansCondensed.ttf", L"DejaVu Sans Condensed"}};

}  // namespace

void LauncherFonts::Load(const std::wstring& fonts_folder) {
  Release();
  folder_ = fonts_folder;
  collection_.reset(new Gdiplus::PrivateFontCollection());
  title_ = LoadSlot(kTitleFonts);
  label_ = LoadSlot(kLabelFonts);
  narrow_ = LoadSlot(kNarrowFonts);
  LoadSpriteFont(L"letters", letters_, true);
  LoadSpriteFont(L"letters-2x", letters_2x_, true);
  LoadSpriteFont(L"subletters\\3", subletters_, false);
  for (const auto& [key, image] : letters_) letter_sizes_[key] = {image->GetWidth(), image->GetHeight()};
  Log::Info(L"Sprite fonts: " + std::to_wstring(letters_.size()) + L" letters, " + std::to_wstring(subletters_.size()) +
            L" subletters");
}

void LauncherFonts::Release() {
  letters_.clear();
  letters_2x_.clear();
  subletters_.clear();
  letter_sizes_.clear();
  title_.reset();
  label_.reset();
  narrow_.reset();
  collection_.reset();
  added_.clear();
}

const Gdiplus::FontFamily* LauncherFonts::Family(FontFace face) const {
  switch (face) {
    case FontFace::Title: return title_.get();
    case FontFace::Label: return label_.get();
    case FontFace::Narrow: return narrow_.get();
    default: return nullptr;
  }
}

const SpriteFont& LauncherFonts::Letters(float scale) const {
  // Above 1.5 the 1x glyphs would be stretched by more than half their size.
  return scale > 1.5f && !letters_2x_.empty() ? letters_2x_ : letters_;
}

template <std::size_t N>
std::unique_ptr<Gdiplus::FontFamily> LauncherFonts::LoadSlot(const Choice (&choices)[N]) {
  for (const Choice& choice : choices) {
    const std::wstring path = folder_ + choice.file;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    // A file two slots share is added once; only its family decides below.
    if (added_.insert(choice.file).second) collection_->AddFontFile(path.c_str());
    std::unique_ptr<Gdiplus::FontFamily> family(new Gdiplus::FontFamily(choice.family, collection_.get()));
    if (family->IsAvailable()) {
      Log::Info(L"Loaded font: " + std::wstring(choice.family));
      return family;
    }
    Log::Warn(L"Font family not found in file: " + std::wstring(choice.family));
  }
  Log::Warn(L"Font not found: " + std::wstring(choices[N - 1].file));
  return nullptr;
}

void LauncherFonts::LoadSpriteFont(const std::wstring& folder, SpriteFont& set, bool with_digits) {
  const std::wstring base = folder_ + folder + L"\\";
  auto load = [&](wchar_t key, const std::wstring& name) {
    std::unique_ptr<Gdiplus::Image> image(Gdiplus::Image::FromFile((base + name).c_str()));
    if (image && image->GetLastStatus() == Gdiplus::Ok) set[key] = std::move(image);
  };
  for (wchar_t c = L'a'; c <= L'z'; ++c) load(c, std::wstring(1, c) + L".png");
  if (with_digits) {
    for (wchar_t c = L'0'; c <= L'9'; ++c) load(c, std::wstring(1, c) + L".png");
  }
  load(L'-', L"-.png");
  load(L'\'', L"'.png");
  load(L' ', L"space.png");
}
