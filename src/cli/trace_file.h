// SPDX-License-Identifier: Apache-2.0
#pragma once
// The --trace file. Only a regular file of this user with one link (or a new one), opened never
// through a symbolic link, or the null or full device: a link planted in /tmp, a hard link or
// a file another user left in a sticky folder would redirect the trace into a file that is not
// the user's to overwrite; a FIFO would hang the run; any other device node (the keyboard, the
// kernel log, memory) must never receive report lines. A failed write is kept, not fatal: the
// update goes on, and the command reports it.
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
  // none of the files above; nothing is then emptied.
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
