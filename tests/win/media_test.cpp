// The background music and video as they run under the null sound device the
// test runner sets up (tests/support/wine_env.py).
#include <windows.h>
// After windows.h, which it builds on.
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"
#include "ui/gdiplus_win.h"
#include "ui/music_win.h"
#include "ui/video_background_win.h"

namespace {

std::wstring AssetPath(const std::string& relative) {
  return testutil::TestDataPath("../../assets/" + relative).wstring();
}

std::wstring MusicStatus(const std::wstring& item) {
  wchar_t answer[128] = {};
  mciSendStringW((L"status bgm " + item).c_str(), answer, 128, nullptr);
  return answer;
}

// Wine's MCI driver cannot report the volume: the driver takes both volume commands.
TEST(Music, PlaysInALoopAndMutesByVolume) {
  StartMusic(AssetPath("audio/theme.mp3"), false);
  EXPECT_EQ(MusicStatus(L"mode"), L"playing");
  EXPECT_TRUE(SetMusicMuted(true));
  EXPECT_EQ(MusicStatus(L"mode"), L"playing");  // muted, not stopped
  EXPECT_TRUE(SetMusicMuted(false));
  CloseMusic();
  EXPECT_EQ(MusicStatus(L"mode"), L"");  // no device by that name any more
}

// Pixels along the frame's diagonal, for comparing after a rewind.
std::vector<Gdiplus::ARGB> FramePixels(Gdiplus::Bitmap& frame) {
  std::vector<Gdiplus::ARGB> out;
  for (INT i = 0; i < 144; ++i) {
    Gdiplus::Color c;
    frame.GetPixel(i * 512 / 144, i * 2, &c);
    out.push_back(c.GetValue());
  }
  return out;
}

TEST(VideoBackground, PlaysToTheEndAndLoops) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    VideoBackground video;
    EXPECT_FALSE(video.Open(AssetPath("video/missing.mkv")));
    ASSERT_TRUE(video.Open(AssetPath("video/background.mkv")));
    EXPECT_EQ(video.Width() * 1000 + video.Height(), 512288u);
    ASSERT_TRUE(video.NextFrame());
    const std::vector<Gdiplus::ARGB> first = FramePixels(*video.Frame());
    int frames = 1;
    while (video.NextFrame() && frames < 1000) ++frames;
    EXPECT_EQ(frames, 180);  // 6 s at 30 frames a second, then the end of the stream
    EXPECT_NE(FramePixels(*video.Frame()), first);
    video.Rewind();
    ASSERT_TRUE(video.NextFrame());
    EXPECT_EQ(FramePixels(*video.Frame()), first);
  }
  CoUninitialize();
  Gdiplus::GdiplusShutdown(token);
}

}  // namespace
