// What a download keeps beside a file while it is not yet whole: its part,
// "<path>.ostrel-part", and the part's companions (such as its piece record),
// "<path>.ostrel-part.<ext>". The one place that knows these names, so the
// sweep of parts left over finds every kind.
#pragma once

#include <string>

// The name of the file that `name` (one file name, no folder) is a download
// part or part companion of; empty when it is none.
std::wstring DownloadPartOwner(const std::wstring& name);
