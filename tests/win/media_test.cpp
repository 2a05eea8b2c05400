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

// Wine's MCI video driver cannot report the volume ("status bgm volume" is
// unknown to it), so the test checks that the driver takes both volume commands.
TEST(Music, PlaysInALoopAndMutesByVolume) {
  StartMusic(AssetPath("audio/theme.mp3"), false);
  EXPECT_EQ(MusicStatus(L"mode"), L"playing");
  EXPECT_TRUE(SetMusicMuted(true));
  EXPECT_EQ(MusicStatus(L"mode"), L"playing");  // muted, not stopped
  EXPECT_TRUE(SetMusicMuted(false));
  CloseMusic();
  EXPECT_EQ(MusicStatus(L"mode"), L"");  // no device by that name any more
}

// The first frame's pixels, for comparing after a rewind.
std::vector<BYTE> FramePixels(Gdiplus::Bitmap& frame) {
  Gdiplus::Rect all(0, 0, static_cast<INT>(frame.GetWidth()), static_cast<INT>(frame.GetHeight()));
  Gdiplus::BitmapData bits{};
  EXPECT_EQ(frame.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &bits), Gdiplus::Ok);
  std::vector<BYTE> out;
  for (UINT y = 0; y < bits.Height; ++y) {
    const BYTE* row = static_cast<const BYTE*>(bits.Scan0) + static_cast<INT_PTR>(y) * bits.Stride;
    out.insert(out.end(), row, row + bits.Width * 4);
  }
  frame.UnlockBits(&bits);
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
    EXPECT_FALSE(video.IsOpen());

    ASSERT_TRUE(video.Open(AssetPath("video/background.mkv")));
    EXPECT_EQ(video.Width(), 512u);
    EXPECT_EQ(video.Height(), 288u);
    ASSERT_TRUE(video.NextFrame());
    const std::vector<BYTE> first = FramePixels(*video.Frame());
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
