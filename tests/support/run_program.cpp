#include "support/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <future>

#include "support/temp_dir.h"

extern char** environ;

namespace vortan::testing {
namespace {

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const TempDir& dir, std::chrono::seconds limit) {
  ProgramResult result;
  const std::string outPath = dir.File("program.out");
  const std::string errPath = dir.File("program.err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> argvStore = {program};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvStore) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return result;

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
  result.out = ReadText(outPath);
  result.err = ReadText(errPath);
  return result;
}

}  // namespace vortan::testing
