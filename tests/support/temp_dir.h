// A folder of the test's own under the temp folder, removed with its
// content at the end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "caller.h"

namespace qmis_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path, without a trailing backslash.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  // A file of `size` bytes (relative to the folder), folders on the way made.
  void File(const std::string& name, DWORD size, const Caller& caller = Caller::current()) const;
  void Folder(const std::string& name) const;
  // A Unix symbolic link `name` to `target` (relative to the link), which
  // Wine shows as a directory reparse point. False where it cannot be made:
  // off Wine, or without /bin/ln.
  // The folder's removal removes the link, never what it leads to.
  bool UnixLink(const std::string& name, const std::string& target);

 private:
  std::string path_;
  std::vector<std::string> links_;
};

void RemoveTree(const std::string& path);
bool PathExists(const std::string& path);

}  // namespace qmis_test
