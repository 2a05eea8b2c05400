#include "ui/video_background_win.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mftransform.h>
#include <wmcodecdsp.h>

#include <algorithm>
#include <cstring>

#include "log/log.h"
#include "ui/locked_bits_win.h"
#include "ui/media_foundation_win.h"

namespace {

constexpr DWORD kVideoStream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);

std::wstring Hr(HRESULT hr) { return std::to_wstring(static_cast<long>(hr)); }

HRESULT MakeVideoType(const MediaFoundation& mf, const GUID& subtype, ComPtr<IMFMediaType>& type) {
  HRESULT hr = mf.CreateMediaType(type.Put());
  if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, subtype);
  return hr;
}

// A locked media buffer, unlocked on every path.
class LockedBuffer {
 public:
  explicit LockedBuffer(IMFMediaBuffer* buffer) : buffer_(buffer) {
    if (FAILED(buffer_->Lock(&data_, nullptr, &length_))) data_ = nullptr;
  }
  ~LockedBuffer() {
    if (data_) buffer_->Unlock();
  }
  LockedBuffer(const LockedBuffer&) = delete;
  LockedBuffer& operator=(const LockedBuffer&) = delete;
  const BYTE* data() const { return data_; }
  DWORD length() const { return length_; }

 private:
  IMFMediaBuffer* buffer_;
  BYTE* data_ = nullptr;
  DWORD length_ = 0;
};

}  // namespace

bool VideoBackground::Open(const std::wstring& path) {
  Close();
  std::wstring missing;
  mf_ = LoadMediaFoundation(missing);
  if (!mf_) {
    Log::Warn(L"Video background unavailable: " + missing);
    return false;
  }
  HRESULT hr = mf_->Startup(MF_VERSION, MFSTARTUP_FULL);
  if (FAILED(hr)) {
    Log::Warn(L"Video background unavailable: MFStartup failed hr=" + Hr(hr));
    return false;
  }
  started_ = true;

  ComPtr<IMFAttributes> attributes;
  hr = mf_->CreateAttributes(attributes.Put(), 2);
  if (SUCCEEDED(hr)) {
    // The reader converts to the requested RGB format itself where it can.
    attributes->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE);
    attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, FALSE);
    hr = mf_->CreateSourceReaderFromURL(path.c_str(), attributes.Get(), reader_.Put());
  }
  attributes.Reset();
  if (FAILED(hr)) {
    Log::Error(L"VideoBackground: MFCreateSourceReaderFromURL failed hr=" + Hr(hr));
    Close();
    return false;
  }
  // Any audio in the file is never read.
  reader_->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
  reader_->SetStreamSelection(kVideoStream, TRUE);

  ComPtr<IMFMediaType> rgb32;
  hr = MakeVideoType(*mf_, MFVideoFormat_RGB32, rgb32);
  if (SUCCEEDED(hr)) hr = reader_->SetCurrentMediaType(kVideoStream, nullptr, rgb32.Get());
  if (FAILED(hr)) {
    // Wine's reader offers YUV formats only: take NV12 and convert each frame
    // (an expected route, so no warning).
    Log::Info(L"VideoBackground: no RGB32 from the reader (hr=" + Hr(hr) + L"), taking NV12");
    ComPtr<IMFMediaType> nv12;
    hr = MakeVideoType(*mf_, MFVideoFormat_NV12, nv12);
    if (SUCCEEDED(hr)) hr = reader_->SetCurrentMediaType(kVideoStream, nullptr, nv12.Get());
    if (FAILED(hr)) {
      Log::Error(L"VideoBackground: SetCurrentMediaType NV12 failed hr=" + Hr(hr));
      Close();
      return false;
    }
  }
  if (!ReadFrameSize() || !MakeFrameBitmap()) {
    Close();
    return false;
  }
  ComPtr<IMFMediaType> current;
  GUID subtype{};
  if (SUCCEEDED(reader_->GetCurrentMediaType(kVideoStream, current.Put()))) current->GetGUID(MF_MT_SUBTYPE, &subtype);
  if (subtype == MFVideoFormat_NV12) {
    if (!StartConverter()) {
      Close();
      return false;
    }
    Log::Info(L"VideoBackground: playing NV12 through the colour converter");
  } else {
    Log::Info(L"VideoBackground: playing RGB32 from the source reader");
  }
  Log::Info(L"VideoBackground: opened " + std::to_wstring(width_) + L"x" + std::to_wstring(height_));
  return true;
}

bool VideoBackground::ReadFrameSize() {
  ComPtr<IMFMediaType> type;
  UINT64 size = 0;
  if (FAILED(reader_->GetCurrentMediaType(kVideoStream, type.Put())) ||
      FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &size))) {
    Log::Error(L"VideoBackground: GetCurrentMediaType failed");
    return false;
  }
  width_ = static_cast<UINT>(size >> 32);
  height_ = static_cast<UINT>(size & 0xFFFFFFFFu);
  if (width_ == 0 || height_ == 0) {
    Log::Error(L"VideoBackground: zero dimensions");
    return false;
  }
  return true;
}

bool VideoBackground::MakeFrameBitmap() {
  frame_.reset(new Gdiplus::Bitmap(static_cast<INT>(width_), static_cast<INT>(height_), PixelFormat32bppRGB));
  ++generation_;
  if (frame_->GetLastStatus() != Gdiplus::Ok) {
    Log::Error(L"VideoBackground: Bitmap alloc failed");
    frame_.reset();
    return false;
  }
  return true;
}

// The colour converter with the reader's NV12 type in and top-down RGB32 of
// the same size out.
bool VideoBackground::StartConverter() {
  converted_.Reset();  // sized for the old frame
  ComPtr<IMFMediaType> input, output;
  HRESULT hr = CoCreateInstance(CLSID_CColorConvertDMO, nullptr, CLSCTX_INPROC_SERVER, IID_IMFTransform,
                                reinterpret_cast<void**>(converter_.Put()));
  if (SUCCEEDED(hr)) hr = reader_->GetCurrentMediaType(kVideoStream, input.Put());
  if (SUCCEEDED(hr)) hr = mf_->CreateMediaType(output.Put());
  if (SUCCEEDED(hr)) hr = input->CopyAllItems(output.Get());
  if (SUCCEEDED(hr)) hr = output->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
  if (SUCCEEDED(hr)) hr = output->SetUINT32(MF_MT_DEFAULT_STRIDE, width_ * 4);
  if (SUCCEEDED(hr)) hr = converter_->SetInputType(0, input.Get(), 0);
  if (SUCCEEDED(hr)) hr = converter_->SetOutputType(0, output.Get(), 0);
  if (FAILED(hr)) {
    Log::Error(L"VideoBackground: colour converter failed hr=" + Hr(hr));
    converter_.Reset();
    converted_.Reset();
    return false;
  }
  return true;
}

bool VideoBackground::NextFrame() {
  if (!reader_ || !frame_) return false;
  ComPtr<IMFSample> sample;
  // A read may bring only a format change or a stream tick; a few more reads
  // then bring the frame.
  for (int attempt = 0; attempt < 8 && !sample; ++attempt) {
    DWORD flags = 0;
    const HRESULT hr = reader_->ReadSample(kVideoStream, 0, nullptr, &flags, nullptr, sample.Put());
    if (FAILED(hr)) {
      Log::Error(L"VideoBackground: ReadSample failed hr=" + Hr(hr));
      return false;
    }
    if (flags & MF_SOURCE_READERF_ENDOFSTREAM) return false;
    if (flags & MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED) {
      if (!ReadFrameSize() || !MakeFrameBitmap()) return false;
      if (converter_ && !StartConverter()) return false;
    }
  }
  if (!sample) return true;
  if (converter_) {
    ConvertToFrame(sample.Get());
  } else {
    CopyToFrame(sample.Get());
  }
  return true;
}

void VideoBackground::CopyToFrame(IMFSample* sample) {
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample->ConvertToContiguousBuffer(buffer.Put())) || !buffer) return;
  LockedBuffer locked(buffer.Get());
  const UINT row = width_ * 4;
  // A short buffer leaves the previous frame in place.
  if (!locked.data() || !frame_ || locked.length() < static_cast<DWORD>(height_) * row) return;
  {
    const LockedBits bits(*frame_, Gdiplus::ImageLockModeWrite, PixelFormat32bppRGB);
    if (!bits.ok()) return;
    const PixelView view = bits.view();
    for (UINT y = 0; y < height_; ++y) {
      std::memcpy(view.data + static_cast<INT_PTR>(y) * view.stride, locked.data() + static_cast<size_t>(y) * row, row);
    }
  }
  ++generation_;
}

void VideoBackground::ConvertToFrame(IMFSample* sample) {
  if (FAILED(converter_->ProcessInput(0, sample, 0))) return;
  MFT_OUTPUT_STREAM_INFO info{};
  converter_->GetOutputStreamInfo(0, &info);
  const bool provides =
      (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES | MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
  if (!provides && !converted_) {
    // One output sample for the whole stream: a frame's worth of RGB32.
    ComPtr<IMFMediaBuffer> buffer;
    const DWORD size = std::max<DWORD>(info.cbSize, width_ * height_ * 4);
    if (FAILED(mf_->CreateSample(converted_.Put())) || FAILED(mf_->CreateMemoryBuffer(size, buffer.Put())) ||
        FAILED(converted_->AddBuffer(buffer.Get()))) {
      converted_.Reset();
      return;
    }
  }
  MFT_OUTPUT_DATA_BUFFER data{};
  data.pSample = provides ? nullptr : converted_.Get();
  DWORD status = 0;
  const HRESULT hr = converter_->ProcessOutput(0, 1, &data, &status);
  // A sample the transform made is ours to release (ours stays in `converted_`), and so are its events.
  ComPtr<IMFSample> produced;
  if (provides && data.pSample) *produced.Put() = data.pSample;
  ComPtr<IMFCollection> events;
  *events.Put() = data.pEvents;
  if (FAILED(hr)) return;  // MF_E_TRANSFORM_NEED_MORE_INPUT keeps the previous frame
  IMFSample* frame = provides ? produced.Get() : converted_.Get();
  if (frame) CopyToFrame(frame);
}

void VideoBackground::Rewind() {
  if (!reader_) return;
  PROPVARIANT position;
  PropVariantInit(&position);
  position.vt = VT_I8;
  position.hVal.QuadPart = 0;
  reader_->SetCurrentPosition(GUID_NULL, position);
  PropVariantClear(&position);
  if (converter_) converter_->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
}

void VideoBackground::Close() {
  converted_.Reset();
  converter_.Reset();
  reader_.Reset();
  frame_.reset();
  width_ = height_ = 0;
  if (started_) {
    mf_->Shutdown();
    started_ = false;
  }
}
