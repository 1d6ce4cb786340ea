// SPDX-License-Identifier: Apache-2.0
#include "support/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <future>

#include "support/temp_dir.h"

extern char** environ;

namespace vortan::testing {

namespace {
std::atomic<int> started{0};
}  // namespace

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& args,
                               const TempDir& dir, const std::vector<int>& closed) {
  const std::string name = dir.File("program-" + std::to_string(started++));
  outPath_ = name + ".out";
  errPath_ = name + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  for (const int fd : closed) posix_spawn_file_actions_addclose(&actions, fd);
  // posix_spawn takes the arguments as char* but leaves them unchanged.
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) Wait(std::chrono::seconds(0));
}

ProgramResult RunningProgram::Wait(std::chrono::seconds limit) {
  ProgramResult result;
  if (pid_ <= 0) return result;
  const pid_t pid = pid_;
  pid_ = -1;
  auto waited = std::async(std::launch::async, [pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  });
  if (waited.wait_for(limit) != std::future_status::ready) {
    result.timedOut = true;
    ::kill(pid, SIGKILL);
  }
  const int status = waited.get();
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadText(outPath_);
  result.err = ReadText(errPath_);
  return result;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const TempDir& dir, std::chrono::seconds limit) {
  return RunningProgram(program, args, dir).Wait(limit);
}

}  // namespace vortan::testing
