// GDI+ wants min and max, which NOMINMAX keeps out of windows.h.
#pragma once

#include <windows.h>
// WIN32_LEAN_AND_MEAN leaves out the COM declarations GDI+ builds on.
#include <objbase.h>
#include <objidl.h>

#include <algorithm>

namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus

#include <gdiplus.h>
