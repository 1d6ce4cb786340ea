// Feeds arbitrary bytes to the package reader as the window does: the bytes become a package
// file, then ReadFile, Examine and, for an accepted package, every text and fact a caller reads.
// The work files go to a private folder removed at exit.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "package/dat_file_examine.h"

namespace {

// Never destroyed, so the exit handler that removes the folder can still name it.
const std::string& Folder() {
  static const std::string* folder = [] {
    const char* base = std::getenv("TMPDIR");
    auto* path =
        new std::string(std::string(base && *base ? base : "/tmp") + "/vortan-package-fuzz-XXXXXX");
    if (::mkdtemp(path->data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(Folder(), ignored);
    });
    return path;
  }();
  return *folder;
}

bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = Folder() + "/input.dat";
  // A clean-up of the shared temporary folder may have removed ours: make it again.
  if (!WriteInput(path, data, size) &&
      (::mkdir(Folder().c_str(), 0700) != 0 || !WriteInput(path, data, size))) {
    std::abort();
  }
  vortan::DatFileExamine datFile(Folder());
  if (datFile.ReadFile(path) && datFile.Examine()) {
    size_t seen = datFile.GetProductModel().size() + datFile.GetFirmwareVersion().size() +
                  datFile.GetNoDeviceText().size();
    for (int p = 1; p <= datFile.CountDataPack(); ++p)
      seen += datFile.DataPack(p).chipFamily.size();
    for (int k = 1; k <= 3; ++k) seen += datFile.KeyName(k).size();
    if (seen == 0) std::abort();  // an accepted package always has a model text
  } else {
    // Whatever was refused, the texts stay empty.
    if (!datFile.GetProductModel().empty()) std::abort();
  }
  datFile.DeleteTempFiles();
  return 0;
}
