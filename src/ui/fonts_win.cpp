#include "ui/fonts_win.h"

#include "log/log.h"

void LauncherFonts::Load(const std::wstring& fonts_folder) {
  Release();
  folder_ = fonts_folder;
  collection_.reset(new Gdiplus::PrivateFontCollection());
  title_ = LoadFontFamily(L"MORPHEUS.TTF", L"Morpheus");
  label_ = LoadFontFamily(L"FRIZQT__.TTF", L"Friz Quadrata TT");
  narrow_ = LoadFontFamily(L"ARIALN.TTF", L"Arial Narrow");
  LoadSpriteFont(L"letters", letters_, true);
  LoadSpriteFont(L"subletters\\3", subletters_, false);
  for (const auto& [key, image] : letters_) letter_sizes_[key] = {image->GetWidth(), image->GetHeight()};
  Log::Info(L"Sprite fonts: " + std::to_wstring(letters_.size()) + L" letters, " + std::to_wstring(subletters_.size()) +
            L" subletters");
}

void LauncherFonts::Release() {
  letters_.clear();
  subletters_.clear();
  letter_sizes_.clear();
  title_.reset();
  label_.reset();
  narrow_.reset();
  collection_.reset();
}

const Gdiplus::FontFamily* LauncherFonts::Family(FontFace face) const {
  switch (face) {
    case FontFace::Title: return title_.get();
    case FontFace::Label: return label_.get();
    case FontFace::Narrow: return narrow_.get();
    default: return nullptr;
  }
}

std::unique_ptr<Gdiplus::FontFamily> LauncherFonts::LoadFontFamily(const std::wstring& file,
                                                                   const std::wstring& family) {
  const std::wstring path = folder_ + file;
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    Log::Warn(L"Font not found: " + file);
    return nullptr;
  }
  collection_->AddFontFile(path.c_str());  // only its family decides below
  std::unique_ptr<Gdiplus::FontFamily> result(new Gdiplus::FontFamily(family.c_str(), collection_.get()));
  if (!result->IsAvailable()) {
    Log::Warn(L"Font family not found in file: " + family);
    return nullptr;
  }
  Log::Info(L"Loaded font: " + family);
  return result;
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
