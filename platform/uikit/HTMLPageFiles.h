#pragma once
// The files a page names (style sheets, images): where a reference in the page leads on disk, and
// what makes two names one file. Any thread; no state.
#include <sys/types.h>

#include <optional>
#include <string>

namespace htmlpage {

// A reference resolved against a folder, without its query and fragment ("file:" addresses as
// they stand); none for addresses of other schemes.
std::optional<std::string> localPath(const std::string& reference, const std::string& directory);

// A file as the system knows it: every name and link of it has the same device and inode.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};
// None when there is nothing at the path (or it cannot be looked at).
std::optional<FileIdentity> fileIdentity(const std::string& path);

}  // namespace htmlpage
