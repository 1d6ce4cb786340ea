// Feeds arbitrary bytes to the package reader as the window does: the bytes become a package
// file, then ReadFile, Examine and, for an accepted package, every text and fact a caller reads.
// The work files go to a private folder removed at exit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/private_folder.h"
#include "package/dat_file_examine.h"

namespace {

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
  const std::string& folder = vortan::fuzz::PrivateFolder();
  const std::string path = folder + "/input.dat";
  // A clean-up of the shared temporary folder may have removed ours: make it again.
  if (!WriteInput(path, data, size) &&
      (::mkdir(folder.c_str(), 0700) != 0 || !WriteInput(path, data, size))) {
    std::abort();
  }
  vortan::DatFileExamine datFile(folder);
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
