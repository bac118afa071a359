#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/foundation/NSPathUtilities.h"
#include "platform/security/Keychain.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestHome.h"

namespace fs = std::filesystem;

namespace {

Value password(const std::string& service, const std::string& account) {
  return Value{{kSecClass, kSecClassGenericPassword}, {kSecAttrService, service}, {kSecAttrAccount, account}};
}

Value withData(Value v, const std::string& data) {
  v[kSecValueData] = value::data(data);
  return v;
}

Value returningData(Value v) {
  v[kSecReturnData] = true;
  return v;
}

std::string bytesOf(const Value& v) {
  Bytes b = value::dataBytes(v);
  return std::string(b.begin(), b.end());
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<fs::path> filesIn(const std::string& dir) {
  std::vector<fs::path> out;
  for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path());
  return out;
}

class Keychain : public testing::Test {
 protected:
  void SetUp() override {
    testsupport::useFreshApplicationHome();
    security::clearKeychainFailures();
  }
  void TearDown() override { security::clearKeychainFailures(); }
};

TEST_F(Keychain, ItemsPersistInPrivateFilesAndAreSeenByAnotherProcess) {
  ASSERT_EQ(SecItemAdd(withData(password("svc", "alice"), "secret-1")), errSecSuccess);

  const std::string dir = NSKeychainDirectory();
  struct stat st {};
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  bool sawStore = false;
  for (const auto& f : filesIn(dir)) {
    if (f.filename().string()[0] == '.') continue;  // the lock file
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    sawStore = true;
  }
  EXPECT_TRUE(sawStore);

  // Another process reads the item and adds one of its own.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Value got;
    int code = 0;
    if (SecItemCopyMatching(returningData(password("svc", "alice")), &got) != errSecSuccess) code = 1;
    else if (bytesOf(got) != "secret-1") code = 2;
    else if (SecItemAdd(withData(password("svc", "bob"), "from-child")) != errSecSuccess) code = 3;
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  Value got;
  ASSERT_EQ(SecItemCopyMatching(returningData(password("svc", "bob")), &got), errSecSuccess);
  EXPECT_EQ(bytesOf(got), "from-child");
}

TEST_F(Keychain, MissingItemsDuplicatesUpdatesAndDeletes) {
  Value got = "stale";
  EXPECT_EQ(SecItemCopyMatching(returningData(password("svc", "nobody")), &got), errSecItemNotFound);
  EXPECT_TRUE(got.is_null());
  EXPECT_EQ(SecItemUpdate(password("svc", "nobody"), Value{{kSecValueData, value::data("x")}}), errSecItemNotFound);
  EXPECT_EQ(SecItemDelete(password("svc", "nobody")), errSecItemNotFound);

  ASSERT_EQ(SecItemAdd(withData(password("svc", "alice"), "one")), errSecSuccess);
  EXPECT_EQ(SecItemAdd(withData(password("svc", "alice"), "two")), errSecDuplicateItem);
  ASSERT_EQ(SecItemAdd(withData(password("svc", "carol"), "three")), errSecSuccess);
  ASSERT_EQ(SecItemAdd(withData(password("other", "alice"), "four")), errSecSuccess);

  ASSERT_EQ(SecItemCopyMatching(returningData(password("svc", "alice")), &got), errSecSuccess);
  EXPECT_EQ(bytesOf(got), "one");  // the duplicate add changed nothing

  ASSERT_EQ(SecItemUpdate(password("svc", "alice"), Value{{kSecValueData, "updated"}, {kSecAttrGeneric, "g"}}),
            errSecSuccess);
  Value query = returningData(password("svc", "alice"));
  query[kSecReturnAttributes] = true;
  ASSERT_EQ(SecItemCopyMatching(query, &got), errSecSuccess);
  EXPECT_EQ(bytesOf(got[kSecValueData]), "updated");
  EXPECT_EQ(bytesOf(got[kSecAttrGeneric]), "g");
  EXPECT_EQ(got[kSecAttrAccount], "alice");
  EXPECT_EQ(got[kSecClass], kSecClassGenericPassword);

  // Renaming carol to alice would make two identical items: refused, nothing written.
  EXPECT_EQ(SecItemUpdate(password("svc", "carol"), Value{{kSecAttrAccount, "alice"}}), errSecDuplicateItem);
  ASSERT_EQ(SecItemCopyMatching(returningData(password("svc", "carol")), &got), errSecSuccess);
  EXPECT_EQ(bytesOf(got), "three");

  // A query naming only the service matches both of its items.
  Value all = returningData(Value{{kSecClass, kSecClassGenericPassword}, {kSecAttrService, "svc"}});
  all[kSecMatchLimit] = kSecMatchLimitAll;
  ASSERT_EQ(SecItemCopyMatching(all, &got), errSecSuccess);
  ASSERT_TRUE(got.is_array());
  EXPECT_EQ(got.size(), 2u);

  EXPECT_EQ(SecItemDelete(Value{{kSecClass, kSecClassGenericPassword}, {kSecAttrService, "svc"}}), errSecSuccess);
  EXPECT_EQ(SecItemCopyMatching(password("svc", "carol"), nullptr), errSecItemNotFound);
  EXPECT_EQ(SecItemCopyMatching(password("other", "alice"), nullptr), errSecSuccess);
}

TEST_F(Keychain, KeyItemsAreFoundByTagAndKeptApartFromPasswords) {
  auto key = [](const Value& tag) {
    return Value{{kSecClass, kSecClassKey}, {kSecAttrKeyClass, "private"}, {kSecAttrApplicationTag, tag}};
  };
  Value add = key(value::data("com.example.key"));
  add[kSecValueData] = value::data(Bytes{0, 1, 2, 255});
  ASSERT_EQ(SecItemAdd(add), errSecSuccess);
  EXPECT_EQ(SecItemAdd(add), errSecDuplicateItem);

  Value got;
  // A tag given as a string names the same bytes as one given as data.
  ASSERT_EQ(SecItemCopyMatching(returningData(key("com.example.key")), &got), errSecSuccess);
  EXPECT_EQ(value::dataBytes(got), (Bytes{0, 1, 2, 255}));
  EXPECT_EQ(SecItemCopyMatching(returningData(key("com.example.other")), &got), errSecItemNotFound);
  // Passwords do not see key items.
  EXPECT_EQ(SecItemCopyMatching(Value{{kSecClass, kSecClassGenericPassword}}, nullptr), errSecItemNotFound);
  EXPECT_EQ(SecItemDelete(key(value::data("com.example.key"))), errSecSuccess);
  EXPECT_EQ(SecItemCopyMatching(key("com.example.key"), nullptr), errSecItemNotFound);
}

TEST_F(Keychain, ACorruptStoreIsReportedAndMovedAsideWithItsBytesKept) {
  ASSERT_EQ(SecItemAdd(withData(password("svc", "alice"), "one")), errSecSuccess);
  std::string store;
  for (const auto& f : filesIn(NSKeychainDirectory())) {
    if (f.filename().string()[0] != '.') store = f.string();
  }
  ASSERT_FALSE(store.empty());
  const std::string garbage = "{\"items\": [ not json";
  { std::ofstream(store, std::ios::binary | std::ios::trunc) << garbage; }

  testsupport::LogCapture log;
  EXPECT_EQ(SecItemCopyMatching(password("svc", "alice"), nullptr), errSecItemNotFound);
  EXPECT_TRUE(log.contains("could not be read"));
  EXPECT_TRUE(log.contains("moved aside"));
  std::string aside;
  for (const auto& f : filesIn(NSKeychainDirectory())) {
    if (f.string().find(".corrupt-") != std::string::npos) aside = f.string();
  }
  ASSERT_FALSE(aside.empty());
  EXPECT_EQ(readFile(aside), garbage);

  // The keychain works again, and the moved file is left alone.
  ASSERT_EQ(SecItemAdd(withData(password("svc", "alice"), "two")), errSecSuccess);
  EXPECT_EQ(readFile(aside), garbage);

  // Well-formed JSON that is not a store is treated the same way.
  { std::ofstream(store, std::ios::binary | std::ios::trunc) << "[1, 2, 3]"; }
  EXPECT_EQ(SecItemCopyMatching(password("svc", "alice"), nullptr), errSecItemNotFound);
  EXPECT_EQ(readFile(store + ".corrupt-2"), "[1, 2, 3]");
}

TEST_F(Keychain, EveryKindOfDamagedStoreIsMovedAsideAndLoggedWithoutItsContent) {
  ASSERT_EQ(SecItemAdd(withData(password("svc", "alice"), "one")), errSecSuccess);
  std::string store;
  for (const auto& f : filesIn(NSKeychainDirectory())) {
    if (f.filename().string()[0] != '.') store = f.string();
  }
  ASSERT_FALSE(store.empty());
  // "U0VDUkVU" is the base64 of a secret; "hidden" marks text that must not reach the log.
  const std::string head = R"({"format":"keychain-items","version":1,"items":[)";
  const std::string damaged[] = {
      R"({"format":[]})",
      R"({"format":{"hidden":1},"version":1,"items":[]})",
      R"({"format":"keychain-items","version":"1","items":[]})",
      R"({"format":"keychain-items","version":1.0,"items":[]})",
      R"({"format":"keychain-items","version":1,"items":{"hidden":[]}})",
      head + R"({"attributes":{"hidden":[1]},"data":"U0VDUkVU"}]})",
      head + R"({"attributes":{"svce":{"$data":7}},"data":"U0VDUkVU"}]})",
      head + R"({"attributes":{"svce":"svc"},"data":"!hidden!"}]})",
      head + R"({"attributes":[],"data":"U0VDUkVU"}]})",
      head + R"("hidden"]})",
      head + R"({"attributes":{"svce":"svc"},"data":"U0VDUkVURlJFU0hUT0tFTg)",  // cut short
      head + R"({"attributes":{"svce":"svc","hidden":1e99999},"data":"U0VDUkVU"}]})",
      head + std::string(60000, '[') + std::string(60000, ']') + "]}",
      head + R"({"attributes":{"svce":"svc"},"data":")" + std::string(security::kMaxKeychainStoreBytes, 'A') + R"("}]})",
  };
  int n = 0;
  for (const auto& text : damaged) {
    SCOPED_TRACE(text.substr(0, 80));
    { std::ofstream(store, std::ios::binary | std::ios::trunc) << text; }
    testsupport::LogCapture log;
    Value result;
    EXPECT_EQ(SecItemCopyMatching(returningData(password("svc", "alice")), &result), errSecItemNotFound);
    const std::string aside = store + ".corrupt-" + std::to_string(++n);
    EXPECT_TRUE(readFile(aside) == text);
    bool named = false;
    for (const auto& line : log.lines()) {
      if (line.find(store) != std::string::npos && line.find("moved aside") != std::string::npos) named = true;
      EXPECT_EQ(line.find("U0VDUkVU"), std::string::npos) << line;
      EXPECT_EQ(line.find("hidden"), std::string::npos) << line;
      EXPECT_LT(line.size(), 1000u);
    }
    EXPECT_TRUE(named);
  }
  // A syntax error is placed by its byte offset (where "nope" stops being a literal).
  { std::ofstream(store, std::ios::binary | std::ios::trunc) << "{\"format\": nope"; }
  testsupport::LogCapture log;
  EXPECT_EQ(SecItemCopyMatching(password("svc", "alice"), nullptr), errSecItemNotFound);
  EXPECT_TRUE(log.contains("at byte 12"));
}

TEST_F(Keychain, AStoreThatWouldGrowPastItsLimitIsNotWritten) {
  const std::string large(security::kMaxKeychainStoreBytes / 2, 'x');
  ASSERT_EQ(SecItemAdd(withData(password("svc", "a"), large)), errSecSuccess);
  // base64 makes the second item push the file past the limit: refused, the first item kept.
  EXPECT_EQ(SecItemAdd(withData(password("svc", "b"), large)), errSecIO);
  Value got;
  ASSERT_EQ(SecItemCopyMatching(returningData(password("svc", "a")), &got), errSecSuccess);
  EXPECT_EQ(bytesOf(got).size(), large.size());
  EXPECT_EQ(SecItemCopyMatching(password("svc", "b"), nullptr), errSecItemNotFound);
}

TEST_F(Keychain, InjectedFailuresAndBadQueries) {
  security::injectKeychainFailure(security::KeychainOperation::Add, errSecInteractionNotAllowed, 2);
  EXPECT_EQ(SecItemAdd(withData(password("svc", "a"), "x")), errSecInteractionNotAllowed);
  EXPECT_EQ(SecItemAdd(withData(password("svc", "a"), "x")), errSecInteractionNotAllowed);
  EXPECT_EQ(SecItemAdd(withData(password("svc", "a"), "x")), errSecSuccess);

  security::injectKeychainFailure(security::KeychainOperation::CopyMatching, errSecIO);
  EXPECT_EQ(SecItemCopyMatching(password("svc", "a"), nullptr), errSecIO);
  EXPECT_EQ(SecItemCopyMatching(password("svc", "a"), nullptr), errSecSuccess);

  security::injectKeychainFailure(security::KeychainOperation::Delete, errSecIO, 5);
  security::clearKeychainFailures();
  EXPECT_EQ(SecItemDelete(password("svc", "a")), errSecSuccess);

  testsupport::LogCapture log;
  EXPECT_EQ(SecItemAdd(Value{{kSecAttrService, "svc"}}), errSecParam);  // no class
  EXPECT_EQ(SecItemAdd(Value{{kSecClass, "cert"}}), errSecParam);
  EXPECT_EQ(SecItemAdd(Value("not a dictionary")), errSecParam);
  EXPECT_EQ(SecItemAdd(Value{{kSecClass, kSecClassGenericPassword}, {kSecAttrService, Value::array()}}), errSecParam);
  EXPECT_EQ(SecItemAdd(Value{{kSecClass, kSecClassGenericPassword}, {kSecValueData, 12}}), errSecParam);
  EXPECT_EQ(SecItemUpdate(password("svc", "a"), Value{{kSecClass, kSecClassKey}}), errSecParam);
  EXPECT_FALSE(log.lines().empty());
}

TEST_F(Keychain, ConcurrentAddsFromSeveralThreadsAreAllKept) {
  std::vector<std::thread> threads;
  std::vector<OSStatus> results(8, -1);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      results[t] = SecItemAdd(withData(password("svc", "account-" + std::to_string(t)), std::to_string(t)));
    });
  }
  for (auto& th : threads) th.join();
  for (OSStatus s : results) EXPECT_EQ(s, errSecSuccess);
  for (int t = 0; t < 8; ++t) {
    Value got;
    ASSERT_EQ(SecItemCopyMatching(returningData(password("svc", "account-" + std::to_string(t))), &got),
              errSecSuccess);
    EXPECT_EQ(bytesOf(got), std::to_string(t));
  }
}

}  // namespace
