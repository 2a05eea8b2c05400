#include "log/log.h"

#include <memory>
#include <mutex>

#include "log/log_format.h"
#include "log/log_sink.h"

namespace {

struct LogState {
  std::mutex mutex;
  UniqueFile file;
  std::wstring path;
  std::unique_ptr<LogSharing> sharing;  // while another process writes the file too
};

LogState& State() {
  static LogState state;
  return state;
}

void Write(const char* level, const std::wstring& text) {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.file) {
    // Binary mode with explicit CR LF: the bytes on disk do not depend on a
    // stream's locale, so no character can stop later lines from arriving.
    const std::string line = FormatLogFileLine(FormatLogTimestamp(std::time(nullptr)), level, text);
    const bool locked = state.sharing && state.sharing->Lock();
    if (state.sharing && !locked) state.sharing.reset();  // the other process has ended
    // An append stream seeks to the end before each write, so under the lock
    // the line lands after the other process's last one.
    std::fwrite(line.data(), 1, line.size(), state.file.get());
    std::fflush(state.file.get());
    if (locked) state.sharing->Unlock();
  }
  WriteToDebugger(FormatLogDebuggerLine(level, text));
}

}  // namespace

namespace Log {

void Init(const std::wstring& path) {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  // Each start appends; a log past the limit starts afresh, keeping one older file.
  if (LogFileSize(path) > kLogRotateBytes) ReplaceLogFile(path, path + L".1");
  state.file = OpenLogFileForAppend(path);
  state.path = path;
  state.sharing.reset();
}

void ShareWith(std::uint32_t process_id) {
  LogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.sharing = ShareLogFile(state.path, process_id);
}

void Info(const std::wstring& text) { Write("INFO", text); }
void Warn(const std::wstring& text) { Write("WARN", text); }
void Error(const std::wstring& text) { Write("ERROR", text); }

}  // namespace Log
