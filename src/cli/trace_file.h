#pragma once
// The --trace file. Opened never through a symbolic link (one planted in /tmp would redirect the
// trace into another user's file) and only as a regular file or a memory device such as
// /dev/null or /dev/full: a FIFO would hang the run, and a device node could be the keyboard
// itself. A failed write is kept, not fatal: the update goes on, and the command reports it.
#include <mutex>
#include <string>

namespace vortan::cli {

class TraceFile {
 public:
  TraceFile() = default;
  ~TraceFile();
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Creates or empties `path`. False with the reason in `error` when it cannot be opened or is
  // neither a regular file nor a memory device.
  bool Open(const std::string& path, std::string* error);
  // Writes `line` and a line break; after the first failure nothing more is written.
  void WriteLine(const std::string& line);
  // Closes the file. False with the first write error in `error`.
  bool Finish(std::string* error);

 private:
  std::mutex mutex_;
  std::string path_;
  int fd_ = -1;
  std::string failure_;
};

}  // namespace vortan::cli
