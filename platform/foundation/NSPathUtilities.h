#pragma once
// The application home and its folders, laid out as the phone's container:
// Library/Preferences, Library/Application Support, Library/Caches, Documents, tmp, and the
// keychain store. The home is $SPECTRUM_ANALYSER_HOME, else $XDG_DATA_HOME/spectrum-analyser,
// else ~/.local/share/spectrum-analyser. It is read at every call, so tests can switch it.
#include <cstddef>
#include <string>

std::string NSHomeDirectory();
std::string NSLibraryDirectory();
std::string NSPreferencesDirectory();
std::string NSApplicationSupportDirectory();
std::string NSDocumentDirectory();
std::string NSTemporaryDirectory();
std::string NSKeychainDirectory();

namespace ns {
// Creates the folder and its parents (mode 0700); false on failure.
bool createDirectory(const std::string& path);
// Moves a file that could not be read aside as "<path>.corrupt-<n>", keeping its bytes;
// returns the new path (empty on failure).
std::string moveAside(const std::string& path);
// How reading a whole file went: read, not there, there but not readable (no permission, a
// folder, a FIFO or device, an I/O error), or larger than the reader's limit (nothing is kept then).
enum class FileRead { Read, Missing, Unreadable, TooLarge };
// Reads the whole file into *bytes when it is a regular file of at most maxBytes; never reads
// more than that, and never waits: a FIFO or a device named where a file is expected (a pipe
// nobody writes to, /dev/stdin) is refused without being read, where opening or reading it could
// block the caller for good. *why, when given, says in words why a file was not read ("no such
// file", "is a directory", "not a regular file", "larger than N bytes", the system's reason).
FileRead readFile(const std::string& path, size_t maxBytes, std::string* bytes, std::string* why = nullptr);
// Writes the bytes to a temporary file next to `path` and renames it over `path`.
bool writeFileAtomically(const std::string& path, const std::string& bytes, int mode = 0644);
}  // namespace ns
