#include "update/verify_ahead.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "update/updater.h"

VerifyAhead::VerifyAhead(UpdaterBackend& backend, const std::wstring& client_folder,
                         const std::vector<GameFile>& entries, std::vector<DigestBuffer>& buffers,
                         const std::atomic<bool>& cancelled, const std::vector<char>& skip)
    : backend_(backend),
      client_folder_(client_folder),
      entries_(entries),
      buffers_(buffers),
      cancelled_(cancelled),
      skip_(skip) {}

VerifyAhead::~VerifyAhead() {
  try {
    Stop();
  } catch (...) {
    // join only throws for a thread that is not joinable; nothing is left to stop
  }
}

void VerifyAhead::Start(size_t from, size_t end) {
  Stop();
  end = std::min(end, entries_.size());
  if (from >= end) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.assign(end - from, Slot{});
  }
  from_ = from;
  next_ = from;
  end_ = end;
  stopping_ = false;
  running_ = true;
  const size_t count = std::min(buffers_.size(), end - from);
  for (size_t k = 0; k < count; ++k) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++working_;
    }
    try {
      workers_.emplace_back(&VerifyAhead::Work, this, k);
    } catch (const std::system_error&) {
      // No thread to be had: fewer workers, and with none the loop checks by itself.
      std::lock_guard<std::mutex> lock(mutex_);
      --working_;
      changed_.notify_all();
      break;
    }
  }
}

void VerifyAhead::Stop() {
  if (!running_) return;
  stopping_ = true;
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  running_ = false;
  std::lock_guard<std::mutex> lock(mutex_);
  slots_.clear();
  slots_.shrink_to_fit();
}

bool VerifyAhead::Covers(size_t index) const { return running_ && index >= from_ && index < end_; }

std::optional<FileCheckResult> VerifyAhead::Result(size_t index) {
  if (!Covers(index)) return std::nullopt;
  std::unique_lock<std::mutex> lock(mutex_);
  Slot& slot = slots_[index - from_];
  if (slot.state == SlotState::Pending && working_ > 0) {
    // Asleep, the loop is woken for a batch rather than for each file: every
    // sleep and wake-up is a system call (under Wine a round trip to its
    // server). A batch is at most what a worker hashes in about one frame of
    // the screen (33 ms), so the reports do not visibly lag.
    size_t last = index;
    std::int64_t bytes = 0;
    while (last + 1 < end_ && last + 1 - index < kBatchFiles) {
      const std::int64_t size = entries_[last + 1].size;
      bytes += size > 0 ? size : kBatchBytes;
      if (bytes >= kBatchBytes) break;
      ++last;
    }
    awaited_first_ = index;
    awaited_last_ = last;
    changed_.wait(lock, [&] {
      return working_ == 0 ||
             (slot.state != SlotState::Pending &&
              slots_[std::max(index, std::min<size_t>(last, end_ - 1)) - from_].state != SlotState::Pending);
    });
    awaited_first_ = awaited_last_ = kNone;
  }
  if (slot.state == SlotState::Failed) std::rethrow_exception(slot.error);
  if (slot.state == SlotState::Known) return slot.result;
  return std::nullopt;
}

void VerifyAhead::Work(size_t buffer) {
  const DigestStop stop = [this] { return stopping_ || cancelled_; };
  try {
    while (!stop()) {
      const size_t index = next_++;
      if (index >= end_) break;
      const GameFile& entry = entries_[index];
      Slot slot;
      if (skip_[index]) {  // the loop never asks for it, but may wait on it as the end of a batch
        slot.state = SlotState::Known;
        Finish(index, std::move(slot), false);
        continue;
      }
      try {
        const auto result = backend_.Check(ClientTargetPath(client_folder_, entry.path), entry.size, entry.md5,
                                           entry.sha256, buffers_[buffer], stop);
        slot.state = result ? SlotState::Known : SlotState::GivenUp;
        if (result) slot.result = *result;
      } catch (...) {
        slot.state = SlotState::Failed;
        slot.error = std::current_exception();
      }
      bool lowered = false;
      if (slot.state == SlotState::Failed || (slot.state == SlotState::Known && slot.result != FileOk)) {
        // The loop stops here; nothing beyond this entry is worth checking now.
        size_t end = end_;
        while (index + 1 < end && !(lowered = end_.compare_exchange_weak(end, index + 1))) {
        }
      }
      Finish(index, std::move(slot), lowered);
    }
  } catch (...) {
    // Only a failed allocation can land here; the loop checks what is left itself.
  }
  std::lock_guard<std::mutex> lock(mutex_);
  --working_;
  changed_.notify_all();
}

void VerifyAhead::Finish(size_t index, Slot slot, bool lowered_end) {
  std::lock_guard<std::mutex> lock(mutex_);
  slots_[index - from_] = std::move(slot);
  if (index == awaited_first_ || index == awaited_last_ || lowered_end) changed_.notify_one();
}
