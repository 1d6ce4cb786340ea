#pragma once
// The folder of this process for its work files. The names "TEMP1.INI" .. "TEMP2.BIN" are fixed,
// so in a folder every local user can write, such as /tmp, another process or user could block,
// read, swap or delete them; a folder made afresh for each process (mode 0700) leaves them to
// this process alone. It is removed with everything in it when the object goes.
#include <string>

namespace vortan {

class PrivateWorkFolder {
 public:
  // Makes "vortan-XXXXXX" under `parent` (mkdtemp). When that fails (a read-only or full
  // `parent`), Path() is `parent` itself, where the work files keep their own protections and
  // their writes report the system's reason.
  explicit PrivateWorkFolder(const std::string& parent);
  ~PrivateWorkFolder();
  PrivateWorkFolder(const PrivateWorkFolder&) = delete;
  PrivateWorkFolder& operator=(const PrivateWorkFolder&) = delete;

  const std::string& Path() const { return path_; }
  bool Made() const { return made_; }

 private:
  std::string path_;
  bool made_ = false;
};

}  // namespace vortan
