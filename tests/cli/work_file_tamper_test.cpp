// A work file changed between the package writing it and the updater reading it back must refuse
// the package before any byte reaches the device, through the real vortan-flash.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "support/package_fixtures.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace vortan {
namespace {

// Sets an environment variable for the programs started while it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { unsetenv(name_); }

 private:
  const char* name_;
};

TEST(WorkFileTamperTest, AChangedWorkFileRefusesThePackageAndNothingIsSent) {
  testing::TempDir dir;
  testing::TempDir work;
  const std::string package = testing::WritePackage(dir, "pack.dat", testing::TwoPackPackage());
  const std::string trace = dir.File("trace.txt");
  const auto flash = [&] {
    return testing::RunProgram(
        VORTAN_FLASH_PATH,
        {"--work-dir", work.path().string(), "flash", package, "--simulate", "--trace", trace},
        dir);
  };

  for (const char* file : {"TEMP1.INI", "TEMP1.BIN", "TEMP2.INI", "TEMP2.BIN"}) {
    SCOPED_TRACE(file);
    std::remove(trace.c_str());
    ScopedEnv preload("LD_PRELOAD", VORTAN_TAMPER_SHIM_PATH);
    ScopedEnv target("VORTAN_TAMPER_FILE", file);
    const testing::ProgramResult run = flash();
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_NE(run.err.find("Checksum or file format error: " + package), std::string::npos)
        << run.err;
    std::ifstream written(trace);
    std::string line;
    EXPECT_FALSE(std::getline(written, line)) << "the device received: " << line;
  }
}

}  // namespace
}  // namespace vortan
