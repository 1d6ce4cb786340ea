#pragma once
// Runs a program of the build (vortan-flash, vortan-pack) as a child process and collects its
// exit status and output, for tests of the real binaries.
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

// Runs `program` with `args`; its standard output and error go through files in `dir`. A program
// still running after `limit` is killed and reported as timed out.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const TempDir& dir, std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace vortan::testing
