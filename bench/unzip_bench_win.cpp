// Unpacks a ZIP archive as DOWNLOAD CLIENT does (ExtractWithTar: under Wine,
// without tar.exe, the launcher's own reader) and prints the time.
//   unzip_bench <archive> <folder>
// prints "unzip_seconds=<s> result=<ok|reason>"; exit code 0 only when it unpacked.
#include <windows.h>

#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "archive/archive_extraction.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: unzip_bench <archive> <folder>\n", stderr);
    return 2;
  }
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  const bool ok = ExtractWithTar(argv[1], argv[2], error);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("unzip_seconds=%.3f result=%s\n", seconds, ok ? "ok" : error.c_str());
  if (SUCCEEDED(com)) CoUninitialize();
  return ok ? 0 : 1;
}
