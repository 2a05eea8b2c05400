// Background music: the MCI device "bgm" playing assets\audio\theme.mp3 in a
// loop. Fire and forget: results are ignored, a missing file or sound device
// only means silence.
#pragma once

#include <string>

// Opens the file as "bgm", sets its volume (0 when muted, else 100), plays it
// in a loop, and logs "Audio started" or "Audio started (muted)".
void StartMusic(const std::wstring& path, bool muted);
// The music keeps playing; only its volume changes. True when the device
// took the command (callers ignore it; the tests read it).
bool SetMusicMuted(bool muted);
void CloseMusic();
