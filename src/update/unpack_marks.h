// The unpack marks: which archives are being unpacked, kept in the launcher's
// cache so that an unpack cut short (the launcher killed, the power gone) is
// done again at the next start instead of leaving half a folder that passes
// for whole. An archive is marked before it is fetched and unpacked, and its
// mark is cleared only once its last entry is in place.
//
// The file, launcher_cache\unpacking.txt, holds one line per marked archive,
// each ended by CR LF, five fields split by a tab:
//   <archive path> TAB <destination folder> TAB <size> TAB <md5> TAB <sha256>
// Paths are full paths in UTF-8 (neither may hold a tab: Windows refuses
// control characters in names); size in decimal; the digests as the manifest
// gives them, either may be empty. It is replaced whole on every change.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/small_files.h"

struct UnpackMark {
  std::wstring archive;  // the archive's full path
  std::wstring folder;   // the folder it unpacks into
  std::int64_t size = 0;
  std::string md5, sha256;  // what the archive is checked by; empty: not given
};

// launcher folder + "\launcher_cache\unpacking.txt".
std::wstring UnpackMarksPath(const std::wstring& launcher_folder);

std::string UnpackMarksText(const std::vector<UnpackMark>& marks);
// Lines that cannot be read (a hand edit, another version's) are left out.
std::vector<UnpackMark> ParseUnpackMarks(const std::string& text);

// Whether two full paths name one file (ASCII case ignored, as Windows does).
bool SamePath(const std::wstring& a, const std::wstring& b);

// Whether `mark` names the same archive as `other` (paths ignore ASCII case,
// as Windows does) with the same size and digests: the same bytes.
bool SameArchive(const UnpackMark& mark, const UnpackMark& other);

// The mark file of one launcher folder. Every change in the process goes
// through one lock (read, change, replace), so runs that overlap (a cancelled
// one still unpacking) never drop each other's marks.
class UnpackMarkFile {
 public:
  UnpackMarkFile(SmallFiles& files, std::wstring path) : files_(files), path_(std::move(path)) {}

  // The marks of unpacks that did not finish: those of the file, less the
  // archives this process is unpacking right now (that unpack finishes them).
  std::vector<UnpackMark> Unfinished();
  // Drops the mark of `mark`'s archive (one that cannot be unpacked again).
  void Clear(const UnpackMark& mark);

  // One archive's unpack in hand: marked on construction (replacing an older
  // mark of that archive), cleared by Finished(). Ended any other way (a
  // failure, a cancel, an exception, a kill) the mark stays for the next start.
  class Unpacking {
   public:
    Unpacking(UnpackMarkFile* file, UnpackMark mark);  // `file` null: nothing is kept
    ~Unpacking();
    Unpacking(const Unpacking&) = delete;
    Unpacking& operator=(const Unpacking&) = delete;
    void Finished();

   private:
    UnpackMarkFile* file_;
    const UnpackMark mark_;
  };

 private:
  std::vector<UnpackMark> ReadLocked();
  void ReplaceLocked(const std::vector<UnpackMark>& marks);
  void ClearLocked(const UnpackMark& mark);

  SmallFiles& files_;
  const std::wstring path_;
};
