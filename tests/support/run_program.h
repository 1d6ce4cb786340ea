// SPDX-License-Identifier: Apache-2.0
#pragma once
// Runs a program of the build (vortan-flash, vortan-pack) as a child process and collects its
// exit status and output, for tests of the real binaries.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vortan::testing {

class TempDir;

struct ProgramResult {
  int exitCode = -1;      // -1 when the program did not exit normally
  bool timedOut = false;  // killed after the time limit
  std::string out;
  std::string err;
};

// A program started in the background, so a test can act while it runs (send it a signal, start
// a second one).
class RunningProgram {
 public:
  // Its standard output and error go to files of its own in `dir` (programs that run at once
  // never share them); the descriptors in `closed` (1, 2) are left closed instead.
  RunningProgram(const std::string& program, const std::vector<std::string>& args,
                 const TempDir& dir, const std::vector<int>& closed = {});
  // Kills a program not yet waited for.
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t Pid() const { return pid_; }
  // Waits for the end; a program still running after `limit` is killed and reported as timed
  // out.
  ProgramResult Wait(std::chrono::seconds limit = std::chrono::seconds(60));

 private:
  std::string outPath_;
  std::string errPath_;
  pid_t pid_ = -1;
};

// Runs `program` with `args` to its end; its standard output and error go through files in
// `dir`.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const TempDir& dir, std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace vortan::testing
