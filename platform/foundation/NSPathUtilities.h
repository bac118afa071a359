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
// folder, an I/O error), or larger than the reader's limit (nothing is kept then).
enum class FileRead { Read, Missing, Unreadable, TooLarge };
// Reads the whole file into *bytes when it holds at most maxBytes; never reads more than that.
FileRead readFile(const std::string& path, size_t maxBytes, std::string* bytes);
// Writes the bytes to a temporary file next to `path` and renames it over `path`.
bool writeFileAtomically(const std::string& path, const std::string& bytes, int mode = 0644);
}  // namespace ns
