// The file-system, network and archive operations an update run uses. The
// Windows build supplies the real ones; tests can supply their own, which
// keeps the run's logic testable without a network or a Windows file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "update/file_fetch.h"
#include "update/verified_record.h"

class UpdaterBackend : public FetchBackend {
 public:
  virtual ~UpdaterBackend() = default;

  // Called on the run's thread when it starts and when it ends (COM for the unpacking).
  virtual void EnterThread() {}
  virtual void LeaveThread() {}

  // Bytes free to this user on the volume that holds `folder`; nothing when unknown.
  virtual std::optional<std::int64_t> FreeSpace(const std::wstring& folder) = 0;
  // Unpacks a ZIP archive into the folder; false with the reason in `error`.
  virtual bool Extract(const std::wstring& archive, const std::wstring& folder, std::string& error) = 0;

  // What the verified-state record needs (update/quick_check.h); without them no file is
  // ever passed unread. The identity of every file directly in `folder`; false when it
  // cannot be listed. Called from several threads at once.
  virtual bool ListFolder(const std::wstring& /*folder*/, std::vector<ListedFile>& /*files*/) { return false; }
  virtual std::optional<FolderIdentity> IdentifyFolder(const std::wstring& /*folder*/) { return std::nullopt; }
  // The system time, in the units of FileIdentity's times.
  virtual std::uint64_t Now() { return 0; }
  // The record of verified files and the unpack marks are read and replaced
  // whole (SmallFiles); downloads, their parts and records go through FetchBackend.
};

// The real operations (Windows build); a download that waits `stall_ms` for its
// next piece counts as stalled.
std::shared_ptr<UpdaterBackend> MakeSystemUpdaterBackend(std::uint32_t stall_ms = kDownloadStallMs);

// "Not enough disk space: <N> MB needed, <M> MB free on <where>", or "" when `needed` fits in `free`.
std::string DiskSpaceShortfall(std::int64_t needed, std::int64_t free, const std::wstring& where);
