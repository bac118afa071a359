#pragma once
// User defaults: the standard defaults (suite named after the bundle identifier) and named suites,
// each a plist file <home>/Library/Preferences/<suite>.plist. Changes are written shortly after
// they are made (a delayed synchronise) and at once by synchronize(). Safe from several threads.
// A file that cannot be read is logged and moved aside with its bytes kept, never overwritten.
// Files are read within the property-list limits (ns::kMaxPlistBytes, kMaxPlistDepth,
// kMaxPlistDecodedBytes of PlistValue.h); values that would not fit them are not written.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class NSUserDefaults : public std::enable_shared_from_this<NSUserDefaults> {
 public:
  static std::shared_ptr<NSUserDefaults> standardUserDefaults();
  // The defaults of a named suite (the standard defaults for an empty name); one object per suite
  // per process.
  static std::shared_ptr<NSUserDefaults> suiteNamed(const std::string& suiteName);
  // Writes pending changes of every suite and forgets the cached objects, so that the next call
  // reads from disk as a relaunched process would. For tests.
  static void resetForTesting();

  std::optional<Value> objectForKey(const std::string& key) const;
  std::optional<std::string> stringForKey(const std::string& key) const;  // numbers as text too
  int64_t integerForKey(const std::string& key) const;  // 0 when absent; numbers and numeric text
  double doubleForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;        // "YES"/"true"/nonzero numbers
  std::optional<Bytes> dataForKey(const std::string& key) const;
  std::optional<Value> arrayForKey(const std::string& key) const;
  std::optional<Value> dictionaryForKey(const std::string& key) const;
  Value dictionaryRepresentation() const;

  // A null Value removes the key. A value holding null, or text (or a key) that is not UTF-8, is
  // not stored: it is logged and the old value kept.
  void setObject(const Value& value, const std::string& key);
  void setInteger(int64_t value, const std::string& key);
  void setDouble(double value, const std::string& key);
  void setBool(bool value, const std::string& key);
  void removeObjectForKey(const std::string& key);
  // Writes the suite's file now if it changed. False when the write failed.
  bool synchronize();

  const std::string& suiteName() const;
  std::string filePath() const;
  ~NSUserDefaults();

 private:
  explicit NSUserDefaults(std::string suite);
  struct State;
  std::unique_ptr<State> state_;
};
