#include "platform/os/file_name_case.h"

#include <dirent.h>
#include <sys/stat.h>

#include "support/short_text.h"

namespace nexora {

std::string ResolveFileNameCase(const std::string &path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) {
    return path;
  }
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  if (fileName.empty()) {
    return path;
  }
  DIR *entries = ::opendir(directory.c_str());
  if (entries == nullptr) {
    return path;
  }
  std::string match;
  int matches = 0;
  while (const dirent *entry = ::readdir(entries)) {
    if (SameText(entry->d_name, fileName)) {
      match = entry->d_name;
      ++matches;
    }
  }
  ::closedir(entries);
  if (matches != 1) {
    return path;
  }
  return slash == std::string::npos ? match : path.substr(0, slash + 1) + match;
}

} // namespace nexora
