#include "package/work_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace vortan {

PrivateWorkFolder::PrivateWorkFolder(const std::string& parent) : path_(parent) {
  std::string pattern = (std::filesystem::path(parent) / "vortan-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data())) {
    path_ = name.data();
    made_ = true;
  }
}

PrivateWorkFolder::~PrivateWorkFolder() {
  // Links inside are removed, never followed; nobody but this process can have put one there.
  std::error_code ignored;
  if (made_) std::filesystem::remove_all(path_, ignored);
}

}  // namespace vortan
