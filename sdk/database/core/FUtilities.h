#pragma once
// Class-method toolbox of the database client: the child key order (with its two sentinel keys),
// the debug-log switch and gate, the local unique-id counter, int-like key parsing, value type
// names, IEEE 754 hex text, URL path helpers and errors for server statuses.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "sdk/database/core/FAtomicNumber.h"

class FParsedUrl;

// Log levels of the database's lines.
inline constexpr int kFLogLevelDebug = 1;
inline constexpr int kFLogLevelInfo = 2;
inline constexpr int kFLogLevelWarning = 3;

// The log gate: YES when a line of `level` (1 debug, 2 info, 3 warning) is to be written.
bool FUtilitiesLogLevelEnabled(int level);

class FUtilities {
 public:
  using KeyComparator = std::function<int(const std::string&, const std::string&)>;

  static void setLoggingEnabled(bool enabled);  // level 1 for YES, 2 for NO
  static bool getLoggingEnabled();

  static FUtilities& singleton();
  FAtomicNumber& localUid() { return localUid_; }
  // The next local unique id: 1, 2, 3, ... across the process.
  static uint64_t LUIDGenerator();

  // Pieces of at most `maxSize` UTF-16 units; a surrogate pair is never cut in two.
  static std::vector<std::string> splitString(std::string_view str, uint32_t maxSize);
  static std::string decodePath(std::string_view pathString);
  // The compact JSON text of a value (value::toJSON, which writes without recursion: the
  // database's values, a path, an update key and a value below them, nest thousands of levels).
  static std::string jsonText(const Value& value);
  static std::string extractPathFromUrlString(std::string_view url);
  // The database and the location a database URL names (defined with the repository info, in
  // FParsedUrl.cpp). Raises "Failed to parse database URL" for a URL that cannot be read
  // and for a namespace holding "/", ".." or NUL.
  static std::shared_ptr<const FParsedUrl> parseUrl(std::string_view url);
  // "object", "string", "boolean", "number" or "null"; one shared string per name.
  static const std::string& getJavascriptType(const Value& value);
  // nullptr for "ok"; otherwise an error in "com.zirezize" with the status's code.
  static NSErrorRef errorForStatus(std::string_view status, const std::optional<std::string>& reason);
  // The value of a string of decimal digits only; nullopt otherwise.
  static std::optional<int64_t> intForString(std::string_view str);
  static int64_t int32min() { return -2147483648LL; }
  static int64_t int32max() { return 2147483647LL; }
  // The 8 bytes of the double, most significant first, as 16 lowercase hex digits.
  static std::string ieee754StringForNumber(double number);
  static std::string ieee754StringForNumber(const Value& number);
  // YES for an int-like key (1-11 UTF-16 units, optional "-", digits, fits 32 bits); stores its value.
  static bool tryParseString(std::string_view str, int64_t* integer);

  // The sentinel keys. They are recognised by identity: only a reference to these very objects
  // acts as a sentinel in compareKey; a copy of the text is an ordinary key. Holders that must keep
  // a sentinel keep a pointer to (or the shared_ptr from sharedMinName/sharedMaxName of) the object.
  // Inline: the key order asks for both sentinels on every comparison.
  static const std::string& minName() { return *sharedMinName(); }
  static const std::string& maxName() { return *sharedMaxName(); }
  static const std::shared_ptr<const std::string>& sharedMinName() {
    static const std::shared_ptr<const std::string> instance = std::make_shared<const std::string>("[MIN_NAME]");
    return instance;
  }
  static const std::shared_ptr<const std::string>& sharedMaxName() {
    static const std::shared_ptr<const std::string> instance = std::make_shared<const std::string>("[MAX_NAME]");
    return instance;
  }
  static bool isMinName(const std::string& key) { return &key == &minName(); }
  static bool isMaxName(const std::string& key) { return &key == &maxName(); }

  // The child key order: the minimum sentinel, int-like keys by value, all other keys by their
  // UTF-16 code units, the maximum sentinel. Two different int-like keys of equal value and length
  // (such as "-0" and "00") are told apart by their UTF-16 code units, so 0 means the same text.
  static int compareKey(const std::string& a, const std::string& b);
  static const KeyComparator& keyComparator();
  // Plain comparison of the UTF-16 code units.
  static const KeyComparator& stringComparator();
  // Uniform in [0, 1): a random 32-bit integer times 2^-32.
  static double randomDouble();
  // Tests put a repeatable source in place of the random one (the jitter of reconnection waits),
  // so that a run can be replayed exactly; nullptr puts the random source back. Any thread.
  static void setRandomDoubleSourceForTests(std::function<double()> source);

 private:
  FUtilities() = default;
  FAtomicNumber localUid_;
};
