#include "ui/music_win.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <mmsystem.h>

#include "log/log.h"

namespace {
bool Send(const std::wstring& command) { return mciSendStringW(command.c_str(), nullptr, 0, nullptr) == 0; }
}  // namespace

void StartMusic(const std::wstring& path, bool muted) {
  Send(L"open \"" + path + L"\" type mpegvideo alias bgm");
  SetMusicMuted(muted);
  Send(L"play bgm repeat");
  Log::Info(muted ? L"Audio started (muted)" : L"Audio started");
}

bool SetMusicMuted(bool muted) { return Send(muted ? L"setaudio bgm volume to 0" : L"setaudio bgm volume to 100"); }

void CloseMusic() { Send(L"close bgm"); }
