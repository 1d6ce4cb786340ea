// SPDX-License-Identifier: Apache-2.0
#pragma once
// The folder of this process for its work files. The names "TEMP1.INI" .. "TEMP2.BIN" are fixed,
// so in a folder every local user can write, such as /tmp, another process or user could block,
// read, swap or delete them; a folder made afresh for each process (mode 0700) leaves them to
// this process alone. It is removed with everything in it when the object goes.
//
// A process killed outright cannot remove its folder, and the folder holds unpacked firmware.
// So each folder holds a marker file locked (flock) for the folder's life: the lock ends with
// its process, however that ends, and the next run removes every folder of this user whose
// marker nobody holds.
#include <string>

namespace vortan {

class PrivateWorkFolder {
 public:
  // Removes the stale folders under `parent` (RemoveStaleWorkFolders), then makes
  // "vortan-XXXXXX" under it (mkdtemp) with its locked marker. When that fails (a read-only or
  // full `parent`), Path() is `parent` itself, where the work files keep their own protections
  // and their writes report the system's reason.
  explicit PrivateWorkFolder(const std::string& parent);
  ~PrivateWorkFolder();
  PrivateWorkFolder(const PrivateWorkFolder&) = delete;
  PrivateWorkFolder& operator=(const PrivateWorkFolder&) = delete;

  const std::string& Path() const { return path_; }
  bool Made() const { return made_; }

 private:
  std::string path_;
  bool made_ = false;
  int markerFd_ = -1;
};

// The name of the marker file inside each work folder.
inline constexpr char kWorkFolderMarker[] = ".owner.lock";

// Removes each folder "vortan-*" directly under `parent` that belongs to this user and holds a
// marker that is this user's and that nobody locks: its process is gone. Folders of other users,
// folders without a marker (another version's, or one being made) and live ones are left.
// Returns how many it removed.
int RemoveStaleWorkFolders(const std::string& parent);

}  // namespace vortan
