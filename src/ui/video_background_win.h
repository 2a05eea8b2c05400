// The looping video behind the main screen: a Media Foundation source reader
// gives one frame per timer tick into one reusable 32-bit bitmap. When the
// reader cannot give RGB32 itself (Wine's cannot), it gives NV12 and the
// system's colour converter transform turns each frame into RGB32. Media
// Foundation is looked up at run time; without it Open fails with a warning.
#pragma once

#include <windows.h>
// After windows.h: the Media Foundation headers build on it.
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mftransform.h>

#include <memory>
#include <string>

#include "base/com_ptr.h"
#include "ui/gdiplus_win.h"

struct MediaFoundation;

class VideoBackground {
 public:
  VideoBackground() = default;
  ~VideoBackground() { Close(); }
  VideoBackground(const VideoBackground&) = delete;
  VideoBackground& operator=(const VideoBackground&) = delete;

  // True when a video is ready to play; failures are logged.
  bool Open(const std::wstring& path);
  // True when a frame was read (or nothing needed reading); false at the end
  // of the stream or on a read error.
  bool NextFrame();
  // Back to the start of the stream.
  void Rewind();
  // Releases everything and shuts Media Foundation down if this object started it.
  void Close();

  bool IsOpen() const { return static_cast<bool>(reader_); }
  // The most recent frame, or null while no video is open.
  Gdiplus::Bitmap* Frame() const { return IsOpen() ? frame_.get() : nullptr; }
  UINT Width() const { return width_; }
  UINT Height() const { return height_; }
  // Changes whenever new pixels reach the frame bitmap.
  unsigned Generation() const { return generation_; }

 private:
  bool ReadFrameSize();
  bool MakeFrameBitmap();
  bool StartConverter();
  // Copies a top-down RGB32 sample into the frame bitmap.
  void CopyToFrame(IMFSample* sample);
  // Runs an NV12 sample through the converter into the frame bitmap.
  void ConvertToFrame(IMFSample* sample);

  const MediaFoundation* mf_ = nullptr;  // set by Open once Media Foundation is found
  ComPtr<IMFSourceReader> reader_;
  ComPtr<IMFTransform> converter_;  // set on the NV12 route only
  ComPtr<IMFSample> converted_;     // the converter's output, reused frame after frame
  std::unique_ptr<Gdiplus::Bitmap> frame_;
  UINT width_ = 0;
  UINT height_ = 0;
  bool started_ = false;
  unsigned generation_ = 0;
};
