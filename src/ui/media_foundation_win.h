// Media Foundation, reached at run time. The executable does not import its
// DLLs: where they are missing (Windows "N" editions without the Media Feature
// Pack, trimmed systems) the launcher still starts, with the still background.
#pragma once

#include <windows.h>
// After windows.h: the Media Foundation headers build on it.
#include <mfidl.h>
#include <mfreadwrite.h>

#include <string>

struct MediaFoundation {
  HRESULT(WINAPI* Startup)(ULONG version, DWORD flags);
  HRESULT(WINAPI* Shutdown)();
  HRESULT(WINAPI* CreateAttributes)(IMFAttributes** attributes, UINT32 size);
  HRESULT(WINAPI* CreateMediaType)(IMFMediaType** type);
  HRESULT(WINAPI* CreateSample)(IMFSample** sample);
  HRESULT(WINAPI* CreateMemoryBuffer)(DWORD length, IMFMediaBuffer** buffer);
  HRESULT(WINAPI* CreateSourceReaderFromURL)(LPCWSTR url, IMFAttributes* attributes, IMFSourceReader** reader);
};

// The functions, from mfplat.dll and mfreadwrite.dll in the system folder; or
// null, with what is missing in `error`. Looked up once per process (the DLLs
// then stay loaded until the process ends).
const MediaFoundation* LoadMediaFoundation(std::wstring& error);
