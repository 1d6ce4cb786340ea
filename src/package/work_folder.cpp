// SPDX-License-Identifier: Apache-2.0
#include "package/work_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace vortan {
namespace {

// Opens the marker in the folder `dir` (a descriptor) without following links, and locks it without
// waiting. The descriptor, or -1 when it is missing, not this user's regular file, or locked.
int LockedMarker(int dir) {
  const int fd = ::openat(dir, kWorkFolderMarker, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The marker is made under a temporary name, locked, and only then given its name: a sweeping
// run never sees it unlocked while this process lives.
int MakeMarker(const std::string& folder) {
  const std::string made = folder + "/" + kWorkFolderMarker + ".new";
  const int fd = ::open(made.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      ::rename(made.c_str(), (folder + "/" + kWorkFolderMarker).c_str()) != 0) {
    ::close(fd);
    ::unlink(made.c_str());
    return -1;
  }
  return fd;
}

// True when the entry `name` of `parent` is a stale work folder of this user, checked while its
// marker is locked by this call; the lock ends with `marker`, closed by the caller.
bool IsStale(int parent, const char* name, int* marker) {
  struct stat st {};
  if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
      st.st_uid != ::geteuid()) {
    return false;
  }
  const int dir = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return false;
  *marker = LockedMarker(dir);
  ::close(dir);
  return *marker >= 0;
}

}  // namespace

int RemoveStaleWorkFolders(const std::string& parent) {
  DIR* listing = ::opendir(parent.c_str());
  if (!listing) return 0;
  std::vector<std::string> stale;
  std::vector<int> markers;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    int marker = -1;
    if (name.starts_with("vortan-") && IsStale(::dirfd(listing), name.c_str(), &marker)) {
      stale.push_back(name);
      markers.push_back(marker);
    }
  }
  ::closedir(listing);
  int removed = 0;
  for (const std::string& name : stale) {
    // Links inside are removed, never followed. The markers stay locked meanwhile, so no other
    // run takes these folders for live ones' or sweeps them at the same time.
    std::error_code failed;
    std::filesystem::remove_all(std::filesystem::path(parent) / name, failed);
    removed += !failed;
  }
  for (const int marker : markers) ::close(marker);
  return removed;
}

PrivateWorkFolder::PrivateWorkFolder(const std::string& parent) : path_(parent) {
  RemoveStaleWorkFolders(parent);
  std::string pattern = (std::filesystem::path(parent) / "vortan-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data())) {
    path_ = name.data();
    made_ = true;
    // Without its marker the folder is only never swept; the run itself is unaffected.
    markerFd_ = MakeMarker(path_);
  }
}

PrivateWorkFolder::~PrivateWorkFolder() {
  // Links inside are removed, never followed; nobody but this process can have put one there.
  std::error_code ignored;
  if (made_) std::filesystem::remove_all(path_, ignored);
  if (markerFd_ >= 0) ::close(markerFd_);
}

}  // namespace vortan
