// What a download keeps beside a file while it is not yet whole: its part,
// "<path>.ostrel-part", and the part's companions (such as its piece record),
// "<path>.ostrel-part.<ext>". The one place that knows these names, so the
// sweep of parts left over finds every kind.
#pragma once

#include <string>

// The name of the file that `name` (one file name, no folder) is a download
// part or part companion of; empty when it is none.
std::wstring DownloadPartOwner(const std::wstring& name);

// "<path>.ostrel-part": where a file fetched in pieces is written until it is whole.
std::wstring DownloadPartPath(const std::wstring& path);
// "<path>.ostrel-part.pieces": the record of the bytes its part holds (update/part_record.h).
std::wstring PartRecordPath(const std::wstring& path);
// The part whose piece record `path` is; empty when it is none.
std::wstring PartOfRecord(const std::wstring& path);
