// Repository info (identity, internal host cache, connection URL), database URL parsing with the
// URL components under it, and the database config.
#include <gtest/gtest.h>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSURLComponents.h"
#include "platform/foundation/NSUserDefaults.h"
#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/realtime/ZIRDatabaseConfig.h"

namespace {

std::string raisedName(const std::function<void()>& work) {
  try {
    work();
  } catch (const NSException& e) {
    return e.name();
  }
  return "";
}

}  // namespace

TEST(RepoInfo, EqualityAndHashIgnoreTheInternalHost) {
  FRepoInfo a("db.zirezizeio.com", true, "db");
  FRepoInfo b("db.zirezizeio.com", true, "db");
  b.setInternalHost("s-usc1.zirezizeio.com");
  EXPECT_TRUE(a.isEqual(b));
  EXPECT_EQ(a.hash(), b.hash());
  EXPECT_FALSE(a.isEqual(FRepoInfo("db.zirezizeio.com", false, "db")));
  EXPECT_FALSE(a.isEqual(FRepoInfo("db.zirezizeio.com", true, "other")));
  EXPECT_EQ(raisedName([] { FRepoInfo plain; }), "ZIRDatabaseInvalidInitializer");
}

TEST(RepoInfo, DomainCustomHostAndDescription) {
  FRepoInfo service("db.zirezizeio.com", true, "db");
  EXPECT_EQ(service.domain(), "zirezizeio.com");
  EXPECT_FALSE(service.isCustomHost());
  FRepoInfo local("localhost:9000", false, "ns");
  EXPECT_EQ(local.domain(), "localhost:9000");
  EXPECT_TRUE(local.isCustomHost());
  EXPECT_EQ(service.description(), "https://db.zirezizeio.com");
  EXPECT_EQ(local.description(), "http://localhost:9000");
  FRepoInfo emulated(service, "10.0.2.2:9000");
  EXPECT_EQ(emulated.host(), "10.0.2.2:9000");
  EXPECT_FALSE(emulated.secure());
  EXPECT_EQ(emulated.ns(), "db");
}

TEST(RepoInfo, ConnectionURLUsesTheInternalHostAndTheLastSession) {
  FRepoInfo info("db.zirezizeio.com", true, "db");
  EXPECT_EQ(info.connectionURL(), "wss://db.zirezizeio.com/.ws?v=5&ns=db");
  info.setInternalHost("s1.zirezizeio.com");
  EXPECT_EQ(info.connectionURLWithLastSessionID(std::string("abc")), "wss://s1.zirezizeio.com/.ws?v=5&ns=db&ls=abc");
  EXPECT_EQ(FRepoInfo("localhost:9000", false, "ns").connectionURL(), "ws://localhost:9000/.ws?v=5&ns=ns");
}

TEST(RepoInfo, TheInternalHostIsCachedAcrossLaunchesUntilCleared) {
  {
    FRepoInfo info("db.zirezizeio.com", true, "db");
    info.setInternalHost("s1.zirezizeio.com");
  }
  NSUserDefaults::resetForTesting();  // as a relaunched process reads them
  FRepoInfo relaunched("db.zirezizeio.com", true, "db");
  EXPECT_EQ(relaunched.internalHost(), "s1.zirezizeio.com");
  EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey("zirezize:host:db.zirezizeio.com"),
            std::optional<std::string>("s1.zirezizeio.com"));

  // The same value again does not touch the defaults.
  NSUserDefaults::standardUserDefaults()->removeObjectForKey("zirezize:host:db.zirezizeio.com");
  relaunched.setInternalHost("s1.zirezizeio.com");
  EXPECT_FALSE(NSUserDefaults::standardUserDefaults()->objectForKey("zirezize:host:db.zirezizeio.com"));

  relaunched.setInternalHost("s2.zirezizeio.com");
  relaunched.clearInternalHostCache();
  EXPECT_EQ(relaunched.internalHost(), "db.zirezizeio.com");
  NSUserDefaults::resetForTesting();
  EXPECT_EQ(FRepoInfo("db.zirezizeio.com", true, "db").internalHost(), "db.zirezizeio.com");
}

TEST(ParseUrl, AHostOfThreeLabelsNamesTheNamespaceAndIsSecureWithoutAPort) {
  FParsedUrlRef parsed = FUtilities::parseUrl("http://MyDb.ZirezizeIO.com/a%20b/c+d");
  EXPECT_EQ(parsed->repoInfo()->host(), "mydb.zirezizeio.com");
  EXPECT_EQ(parsed->repoInfo()->ns(), "mydb");
  EXPECT_TRUE(parsed->repoInfo()->secure());
  // Each piece decoded as the path helper does it, "+" as a space included.
  EXPECT_EQ(parsed->path()->toString(), "/a b/c d");
}

TEST(ParseUrl, TheNamespaceQueryItemPortsAndSchemes) {
  FParsedUrlRef withNs = FUtilities::parseUrl("https://zirezizeio.com/path?ns=x");
  EXPECT_EQ(withNs->repoInfo()->ns(), "x");
  EXPECT_EQ(withNs->path()->toString(), "/path");
  FParsedUrlRef plain = FUtilities::parseUrl("http://localhost:9000?ns=emu");
  EXPECT_FALSE(plain->repoInfo()->secure());
  EXPECT_EQ(plain->repoInfo()->host(), "localhost:9000");
  EXPECT_EQ(plain->repoInfo()->ns(), "emu");
  EXPECT_TRUE(plain->path()->isEmpty());
  EXPECT_TRUE(FUtilities::parseUrl("wss://localhost:9000/?ns=emu")->repoInfo()->secure());
  // Without a scheme "http://" is assumed; without a query item the first label names it.
  FParsedUrlRef bare = FUtilities::parseUrl("single/a");
  EXPECT_EQ(bare->repoInfo()->ns(), "single");
  EXPECT_EQ(bare->path()->toString(), "/a");
}

TEST(ParseUrl, ThePathIsCutOutByItsPositionNotByItsText) {
  // Removing every occurrence of "abc" would have cut the host apart.
  FParsedUrlRef parsed = FUtilities::parseUrl("https://abc.x.y/abc");
  EXPECT_EQ(parsed->repoInfo()->host(), "abc.x.y");
  EXPECT_EQ(parsed->repoInfo()->ns(), "abc");
  EXPECT_EQ(parsed->path()->toString(), "/abc");
  FParsedUrlRef query = FUtilities::parseUrl("http://host.example:80/ns?ns=ns");
  EXPECT_EQ(query->repoInfo()->ns(), "ns");
  EXPECT_EQ(query->path()->toString(), "/ns");
}

TEST(ParseUrl, ANamespaceThatCouldLeaveTheStorageRootOrAnUnreadableURLIsRefused) {
  for (const char* url : {"http://localhost:9000?ns=..", "http://localhost:9000?ns=a%2Fb",
                          "http://localhost:9000?ns=a%00b", "http://localhost:9000?ns=x/../y",
                          "http://bad host.com/", "http://[::1/", "http://host:port/"}) {
    EXPECT_EQ(raisedName([&] { FUtilities::parseUrl(url); }), "Failed to parse database URL") << url;
  }
}

TEST(URLComponents, PiecesAreSplitAndDecodedStrictly) {
  auto components = NSURLComponents::componentsWithString("https://user@Host.com:8080/p%20q?a=1&b&c=x%3Dy#frag");
  ASSERT_TRUE(components);
  EXPECT_EQ(components->scheme(), std::optional<std::string>("https"));
  EXPECT_EQ(components->user(), std::optional<std::string>("user"));
  EXPECT_EQ(components->host(), std::optional<std::string>("Host.com"));
  EXPECT_EQ(components->port(), std::optional<int64_t>(8080));
  EXPECT_EQ(components->path(), "/p q");
  ASSERT_TRUE(components->queryItems());
  ASSERT_EQ(components->queryItems()->size(), 3u);
  EXPECT_EQ((*components->queryItems())[1].name, "b");
  EXPECT_FALSE((*components->queryItems())[1].value);
  EXPECT_EQ((*components->queryItems())[2].value, std::optional<std::string>("x=y"));
  EXPECT_EQ(components->fragment(), std::optional<std::string>("frag"));
  EXPECT_EQ(NSURLComponents::componentsWithString("http://[::1]:9/")->host(), std::optional<std::string>("::1"));
  EXPECT_FALSE(NSURLComponents::componentsWithString("http://h:70000/"));
  EXPECT_FALSE(NSURLComponents::componentsWithString("1http://h/"));
  EXPECT_FALSE(NSURLComponents::componentsWithString("http://h/%C3"));  // not UTF-8 once decoded
  EXPECT_FALSE(NSURLComponents::componentsWithString(std::string(NSURLComponents::kMaxLength + 1, 'a')));
}

TEST(DatabaseConfig, SettingsAreCheckedAndFrozenOnceInUse) {
  ZIRDatabaseConfig config("app");
  EXPECT_EQ(config.sessionIdentifier(), "app");
  EXPECT_EQ(ZIRDatabaseConfig::defaultConfig()->sessionIdentifier(), "default");
  EXPECT_FALSE(config.persistenceEnabled());
  EXPECT_EQ(config.persistenceCacheSizeBytes(), 10u * 1024 * 1024);
  EXPECT_EQ(config.callbackQueue(), DispatchQueue::main());
  EXPECT_EQ(raisedName([&] { config.setPersistenceCacheSizeBytes(1024); }), NSInvalidArgumentException);
  EXPECT_EQ(raisedName([&] { config.setPersistenceCacheSizeBytes(101 * 1024 * 1024); }), NSInvalidArgumentException);
  config.setPersistenceCacheSizeBytes(1024 * 1024);
  config.setPersistenceEnabled(true);
  config.freeze();
  EXPECT_EQ(raisedName([&] { config.setPersistenceEnabled(false); }), NSInternalInconsistencyException);
  EXPECT_EQ(raisedName([&] { config.setTransportFactory(nullptr); }), NSInternalInconsistencyException);
  EXPECT_TRUE(config.persistenceEnabled());
  EXPECT_EQ(config.persistenceCacheSizeBytes(), 1024u * 1024);
}
