#include "net/stream_digests.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "base/hex.h"
#include "net/md5.h"
#include "net/sha256.h"

namespace {

using HashUpdate = std::function<void(const unsigned char* data, std::size_t size)>;

// Counts the threads of the process that hash, while it lives. A second
// thread for one file pays only where a processor would otherwise idle: where
// the check-ahead workers already keep every processor busy over many large
// files, it would only add hand-overs (measured: more processor time and
// memory, no less wall time).
class HashingThread {
 public:
  HashingThread() { ++count_; }
  ~HashingThread() { --count_; }
  HashingThread(const HashingThread&) = delete;
  HashingThread& operator=(const HashingThread&) = delete;

  static bool ProcessorIdle() {
    static const unsigned processors = std::thread::hardware_concurrency();
    return count_ < processors;
  }

 private:
  static std::atomic<unsigned> count_;
};

std::atomic<unsigned> HashingThread::count_{0};

// One digest on a thread of its own, over the pieces the reading thread hands
// it through a ring of kDigestRingPieces pieces. The hashing side is the
// slower one and must never wait: it sleeps only on an empty ring and is woken
// by the next piece. The reading side sleeps on a full ring until
// kReaderWakeBatch pieces are free, so that it is woken once per batch rather
// than once per piece (under Wine every wake-up is a request to its server),
// while the pieces still in the ring (3 MiB, about 4 ms of MD5) keep the
// hashing side busy until the reading side has been woken and scheduled, even
// with the window's painting on the other processor.
class HashBeside {
 public:
  static constexpr std::size_t kReaderWakeBatch = 2;

  // Starts the thread; throws std::system_error when there is none to be had.
  HashBeside(HashUpdate update, unsigned char* ring) : update_(std::move(update)), ring_(ring) {
    thread_ = std::thread(&HashBeside::Run, this);
  }
  // Abandons what is not hashed yet (within one piece) and joins.
  ~HashBeside() { End(true); }
  HashBeside(const HashBeside&) = delete;
  HashBeside& operator=(const HashBeside&) = delete;

  // The piece to read into next, once it is free.
  unsigned char* FreePiece() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (handed_ - hashed_ == kDigestRingPieces) {
      reader_waits_ = true;
      changed_.wait(lock, [this] { return handed_ - hashed_ <= kDigestRingPieces - kReaderWakeBatch; });
      reader_waits_ = false;
    }
    return ring_ + handed_ % kDigestRingPieces * kDigestPieceBytes;
  }

  // The piece FreePiece gave now holds `size` bytes.
  void Hand(std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    sizes_[handed_ % kDigestRingPieces] = size;
    ++handed_;
    if (hasher_waits_) changed_.notify_all();
  }

  // Waits until every piece handed over is hashed (or, abandoning, the piece
  // in hand) and joins the thread.
  void End(bool abandon) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
      abandoned_ = abandon;
      changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (hashed_ == handed_ && !ended_) {
        hasher_waits_ = true;
        changed_.wait(lock, [this] { return hashed_ < handed_ || ended_; });
        hasher_waits_ = false;
      }
      if (hashed_ == handed_ || abandoned_) return;
      const std::size_t slot = hashed_ % kDigestRingPieces;
      lock.unlock();
      update_(ring_ + slot * kDigestPieceBytes, sizes_[slot]);  // hashing never throws
      lock.lock();
      ++hashed_;
      if (reader_waits_ && handed_ - hashed_ <= kDigestRingPieces - kReaderWakeBatch) changed_.notify_all();
    }
  }

  const HashingThread counted_;
  const HashUpdate update_;
  unsigned char* const ring_;
  std::thread thread_;
  std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::size_t sizes_[kDigestRingPieces] = {};
  std::size_t handed_ = 0, hashed_ = 0;  // pieces so far; piece n lies in slot n % kDigestRingPieces
  bool reader_waits_ = false, hasher_waits_ = false;
  bool ended_ = false, abandoned_ = false;
};

}  // namespace

std::optional<FileDigests> DigestStream(const ReadPiece& read, bool md5, bool sha256, DigestBuffer& buffer,
                                        const DigestStop& stop, std::int64_t alone_bytes) {
  Md5 md5_hash;
  Sha256 sha256_hash;
  const HashUpdate md5_update = [&](const unsigned char* data, std::size_t size) { md5_hash.Update(data, size); };
  const HashUpdate sha256_update = [&](const unsigned char* data, std::size_t size) { sha256_hash.Update(data, size); };
  // The slower digest goes to the second thread: MD5 where the processor
  // hashes SHA-256 in hardware, SHA-256 where it has no such help.
  const bool sha256_slower = FastestSha256Blocks() == Sha256BlocksPortable;
  const HashUpdate& slower = sha256_slower ? sha256_update : md5_update;
  const HashUpdate& faster = sha256_slower ? md5_update : sha256_update;

  if (buffer.size() < kDigestPieceBytes) buffer.resize(kDigestPieceBytes);
  const HashingThread counted;
  std::int64_t total = 0;
  std::optional<HashBeside> beside;
  for (;;) {
    if (md5 && sha256 && !beside && total >= alone_bytes) {
      // Decided once per file: a processor free now (between two files of
      // another worker) is taken only when it is free at this one moment.
      alone_bytes = INT64_MAX;
      if (HashingThread::ProcessorIdle()) {
        try {
          // The ring stays in the buffer for the caller's next files: reading
          // into fresh memory costs Wine about 3.5 ms per 4 MiB.
          const std::size_t ring_bytes = kDigestRingPieces * kDigestPieceBytes;
          if (buffer.size() < ring_bytes) buffer.resize(ring_bytes);
          beside.emplace(slower, buffer.data());
        } catch (const std::exception&) {
          // no memory for the ring, or no second thread (std::system_error): this one hashes both
        }
      }
    }
    unsigned char* const piece = beside ? beside->FreePiece() : buffer.data();
    const std::size_t size = read(piece, kDigestPieceBytes);
    if (size == 0) break;
    total += static_cast<std::int64_t>(size);
    if (beside) {
      faster(piece, size);
      beside->Hand(size);
    } else {
      if (md5) md5_update(piece, size);
      if (sha256) sha256_update(piece, size);
    }
    if (size == kDigestPieceBytes && stop && stop()) return std::nullopt;  // `beside` abandons its pieces
  }
  if (beside) beside->End(false);

  FileDigests digests;
  if (md5) {
    const auto digest = md5_hash.Finish();
    digests.md5 = HexDigest(digest.data(), digest.size());
  }
  if (sha256) {
    const auto digest = sha256_hash.Finish();
    digests.sha256 = HexDigest(digest.data(), digest.size());
  }
  return digests;
}
