// The in-memory layers of remote configuration: defaults, answers by state, activation copies,
// personalization, and an initial load that arrives late.
#include <gtest/gtest.h>

#include <condition_variable>
#include <limits>

#include "sdk/remote_config/RCNConfigConstants.h"
#include "sdk/remote_config/RCNConfigContent.h"
#include "sdk/remote_config/ZIRRemoteConfig.h"
#include "tests/platform/foundation/PlistBuilders.h"
#include "tests/sdk/remote_config/RemoteConfigTestSupport.h"

using rc_test::LogLines;

namespace {

constexpr const char* kNamespace = "zirezize:app";

std::string textOf(const ZIRRemoteConfigValueRef& value) { return value ? value->stringValue().value_or("") : "<none>"; }

class ConfigContent : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::useFreshApplicationHome();
    manager = RCNConfigDBManager::create();
    content = RCNConfigContent::initWithDBManager(manager);
  }

  // The layers as a fresh content reads them back from the database.
  std::shared_ptr<RCNConfigContent> reloaded() {
    manager->waitForQueuedWork();
    return RCNConfigContent::initWithDBManager(manager);
  }

  void update(const Value& response) { content->updateConfigContentWithResponse(response, kNamespace); }

  LogLines logs;
  std::shared_ptr<RCNConfigDBManager> manager;
  std::shared_ptr<RCNConfigContent> content;
};

// A database whose queue is held by the test until release(), so that the initial load is late.
class HeldDatabase {
 public:
  explicit HeldDatabase(const std::shared_ptr<RCNConfigDBManager>& manager) {
    manager->databaseOperationQueue()->async([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      released_.wait(lock, [this] { return open_; });
    });
  }
  ~HeldDatabase() { release(); }
  void release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    released_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool open_ = false;
};

}  // namespace

TEST_F(ConfigContent, DefaultsKeepTextsNumbersBooleansDataAndDatesOnly) {
  Value defaults = {{kNamespace, {{"a", "x"}, {"b", 2.5}, {"c", true}, {"d", Value::array({1})}, {"e", 7},
                                  {"f", value::data("raw")}, {"g", Value{{"nested", 1}}}, {"h", nullptr}}}};
  content->copyFromDictionary(defaults, RCNDBSourceDefault, kNamespace);
  auto layer = content->defaultConfig()[kNamespace];
  EXPECT_EQ(textOf(layer["a"]), "x");
  EXPECT_EQ(textOf(layer["b"]), "2.5");
  EXPECT_EQ(textOf(layer["c"]), "1");
  EXPECT_EQ(textOf(layer["e"]), "7");
  EXPECT_EQ(textOf(layer["f"]), "raw");
  EXPECT_FALSE(layer.count("d"));
  EXPECT_FALSE(layer.count("g"));
  EXPECT_FALSE(layer.count("h"));
  EXPECT_EQ(layer["a"]->source(), ZIRRemoteConfigSource::Default);
  // The rows mirror the layer.
  EXPECT_EQ(reloaded()->defaultConfig()[kNamespace].size(), 5u);
}

TEST_F(ConfigContent, IntegerDefaultsKeepTheirDecimalTextAtTheEdgesOfBothKinds) {
  Value defaults = {{kNamespace,
                     {{"uint64-max", std::numeric_limits<uint64_t>::max()},
                      {"just-above-int64", static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1},
                      {"int64-max", std::numeric_limits<int64_t>::max()},
                      {"int64-min", std::numeric_limits<int64_t>::min()},
                      {"minus-one", -1},
                      {"zero", 0u}}}};
  content->copyFromDictionary(defaults, RCNDBSourceDefault, kNamespace);
  for (const auto& layer : {content->defaultConfig()[kNamespace], reloaded()->defaultConfig()[kNamespace]}) {
    EXPECT_EQ(textOf(layer.at("uint64-max")), "18446744073709551615");
    EXPECT_EQ(textOf(layer.at("just-above-int64")), "9223372036854775808");
    EXPECT_EQ(textOf(layer.at("int64-max")), "9223372036854775807");
    EXPECT_EQ(textOf(layer.at("int64-min")), "-9223372036854775808");
    EXPECT_EQ(textOf(layer.at("minus-one")), "-1");
    EXPECT_EQ(textOf(layer.at("zero")), "0");
  }
  EXPECT_EQ(content->defaultConfig()[kNamespace].at("uint64-max")->numberValue(), 18446744073709551615.0);
}

// A defaults file read as setDefaultsFromPlistFileName reads it: its integers above the signed
// range keep their decimal text, in either form of the file.
TEST_F(ConfigContent, ADefaultsFileKeepsIntegersAboveTheSignedRangeAsTheirDecimalText) {
  const std::string xml =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>big</key><integer>18446744073709551615</integer>"
      "<key>small</key><integer>-1</integer></dict></plist>";
  // The same as a binary list: 2^64-1 as a 16-byte integer, -1 as an 8-byte one.
  const std::string binary =
      plist_test::dictionaryList({"\x53" "big", "\x55" "small"}, {"\x14" + std::string(8, '\0') + std::string(8, '\xFF'),
                                                               "\x13" + std::string(8, '\xFF')});
  for (const std::string& file : {xml, binary}) {
    std::string error;
    auto defaults = ZIRRemoteConfig::defaultsFromPlistData(file, &error);
    ASSERT_TRUE(defaults) << error;
    content->copyFromDictionary(Value{{kNamespace, *defaults}}, RCNDBSourceDefault, kNamespace);
    const auto layer = content->defaultConfig()[kNamespace];
    EXPECT_EQ(textOf(layer.at("big")), "18446744073709551615");
    EXPECT_EQ(textOf(layer.at("small")), "-1");
  }
}

TEST_F(ConfigContent, RefusesAMissingSourceAndTheFetchedLayerAsDestination) {
  content->copyFromDictionary(Value(), RCNDBSourceDefault, kNamespace);
  EXPECT_TRUE(logs.contains("I-RCN000007] The source dictionary to copy from does not exist."));
  content->copyFromDictionary(Value{{kNamespace, {{"a", "x"}}}}, RCNDBSourceFetched, kNamespace);
  EXPECT_TRUE(logs.contains("I-RCN000008] This shouldn't happen. Destination dictionary should never be pending type."));
  content->copyFromLayer(std::nullopt, RCNDBSourceActive, kNamespace);
  EXPECT_TRUE(content->fetchedConfig().empty());
  EXPECT_TRUE(content->defaultConfig().empty());
  EXPECT_TRUE(content->activeConfig().empty());
}

TEST_F(ConfigContent, AnswersChangeTheFetchedLayerByTheirState) {
  // NO_CHANGE before any update creates an empty map; activating it empties the active values.
  content->copyFromLayer(RCNConfigLayer{{kNamespace, {{"old", ZIRRemoteConfigValue::initWithData({'1'}, ZIRRemoteConfigSource::Remote)}}}},
                         RCNDBSourceActive, kNamespace);
  update(Value{{"state", "NO_CHANGE"}});
  ASSERT_TRUE(content->fetchedConfig().count(kNamespace));
  EXPECT_TRUE(content->fetchedConfig()[kNamespace].empty());
  content->copyFromLayer(content->fetchedConfig(), RCNDBSourceActive, kNamespace);
  EXPECT_TRUE(content->activeConfig()[kNamespace].empty());

  update(Value{{"state", "UPDATE"}, {"entries", {{"a", "1"}, {"b", ""}}}});
  auto fetched = content->fetchedConfig()[kNamespace];
  EXPECT_EQ(textOf(fetched["a"]), "1");
  EXPECT_TRUE(fetched["b"]->dataValue().empty());  // an empty text is kept as empty bytes
  update(Value{{"state", "NO_CHANGE"}});
  EXPECT_EQ(content->fetchedConfig()[kNamespace].size(), 2u);
  EXPECT_EQ(reloaded()->fetchedConfig()[kNamespace].size(), 2u);

  update(Value{{"state", "EMPTY_CONFIG"}});
  EXPECT_TRUE(content->fetchedConfig()[kNamespace].empty());
  EXPECT_TRUE(reloaded()->fetchedConfig()[kNamespace].empty());

  update(Value{{"state", "UPDATE"}, {"entries", {{"c", "3"}}}});
  update(Value{{"state", "NO_TEMPLATE"}});
  EXPECT_FALSE(content->fetchedConfig().count(kNamespace));
  // A missing fetched map is copied as an empty one.
  content->copyFromLayer(content->fetchedConfig(), RCNDBSourceActive, kNamespace);
  EXPECT_TRUE(content->activeConfig()[kNamespace].empty());
  EXPECT_FALSE(reloaded()->fetchedConfig().count(kNamespace));

  // Without a state, or with one that is not text, nothing changes.
  update(Value{{"state", "UPDATE"}, {"entries", {{"d", "4"}}}});
  update(Value{{"entries", {{"e", "5"}}}});
  EXPECT_TRUE(logs.contains("I-RCN000049] State field in fetch response is nil."));
  update(Value{{"state", 3}, {"entries", {{"e", "5"}}}});
  update(Value{{"state", "UPDATE"}, {"entries", {{"e", 5}}}});
  update(Value{{"state", "UPDATE"}, {"entries", {{"e", "5"}}}, {"personalizationMetadata", "wrong kind"}});
  EXPECT_EQ(content->fetchedConfig()[kNamespace].size(), 1u);
  EXPECT_EQ(textOf(content->fetchedConfig()[kNamespace]["d"]), "4");
}

TEST_F(ConfigContent, PersonalizationIsFetchedThenActivatedAndKeptAcrossUpdates) {
  update(Value{{"state", "UPDATE"}, {"entries", {{"a", "1"}}}, {"personalizationMetadata", {{"a", {{"choiceId", "c1"}}}}}});
  EXPECT_EQ(*content->fetchedPersonalization(), (Value{{"a", {{"choiceId", "c1"}}}}));
  EXPECT_EQ(*content->activePersonalization(), Value::object());
  // An update without metadata keeps the fetched metadata.
  update(Value{{"state", "UPDATE"}, {"entries", {{"a", "2"}}}});
  EXPECT_EQ((*content->fetchedPersonalization())["a"]["choiceId"], "c1");
  content->activatePersonalization();
  content->copyFromLayer(content->fetchedConfig(), RCNDBSourceActive, kNamespace);
  auto config = content->getConfigAndMetadataForNamespace(kNamespace);
  EXPECT_EQ(textOf(config.entries["a"]), "2");
  EXPECT_EQ((*config.personalizationMetadata)["a"]["choiceId"], "c1");
  // Activating again without a new fetch hands over the very same metadata object.
  content->activatePersonalization();
  EXPECT_EQ(content->getConfigAndMetadataForNamespace(kNamespace).personalizationMetadata, config.personalizationMetadata);

  auto again = reloaded();
  ASSERT_TRUE(testsupport::waitFor([&] { return !again->activePersonalization()->empty(); }, 10));
  EXPECT_EQ((*again->activePersonalization())["a"]["choiceId"], "c1");
  EXPECT_EQ((*again->fetchedPersonalization())["a"]["choiceId"], "c1");
}

TEST_F(ConfigContent, ALateInitialLoadFillsOnlyWhatWasNotWrittenMeanwhile) {
  // Rows left by an earlier run: defaults of two namespaces and a fetched map.
  content->copyFromDictionary(Value{{kNamespace, {{"k", "stored"}}}}, RCNDBSourceDefault, kNamespace);
  content->copyFromDictionary(Value{{"other:app", {{"k", "stored other"}}}}, RCNDBSourceDefault, "other:app");
  update(Value{{"state", "UPDATE"}, {"entries", {{"f", "stored fetched"}}}});
  manager->waitForQueuedWork();

  HeldDatabase held(manager);
  auto late = RCNConfigContent::initWithDBManager(manager, /*loadTimeoutSeconds=*/0.05);
  // The wait times out; new defaults of one namespace are written before the load arrives.
  EXPECT_FALSE(late->checkAndWaitForInitialDatabaseLoad());
  EXPECT_TRUE(logs.contains("I-RCN000048] Timed out waiting for fetched config to be loaded from DB"));
  late->copyFromDictionary(Value{{kNamespace, {{"k", "new"}}}}, RCNDBSourceDefault, kNamespace);
  late->updateConfigContentWithResponse(Value{{"state", "NO_TEMPLATE"}}, kNamespace);
  held.release();
  ASSERT_TRUE(testsupport::waitFor([&] { return late->checkAndWaitForInitialDatabaseLoad(); }, 10));

  auto defaults = late->defaultConfig();
  EXPECT_EQ(textOf(defaults[kNamespace]["k"]), "new");                  // written meanwhile: kept
  EXPECT_EQ(textOf(defaults["other:app"]["k"]), "stored other");        // untouched: loaded
  EXPECT_FALSE(late->fetchedConfig().count(kNamespace));                 // removed meanwhile: stays removed
  manager->waitForQueuedWork();
  EXPECT_EQ(textOf(reloaded()->defaultConfig()[kNamespace]["k"]), "new");
}

TEST_F(ConfigContent, ANoChangeAnswerBeforeALateLoadKeepsTheStoredFetchedValues) {
  update(Value{{"state", "UPDATE"}, {"entries", {{"f", "stored fetched"}}}});
  manager->waitForQueuedWork();

  HeldDatabase held(manager);
  auto late = RCNConfigContent::initWithDBManager(manager, /*loadTimeoutSeconds=*/0.05);
  // "Nothing changed" leaves the stored fetched rows alone, so the load that arrives later fills
  // the namespace with them: memory and rows agree.
  late->updateConfigContentWithResponse(Value{{"state", "NO_CHANGE"}}, kNamespace);
  held.release();
  ASSERT_TRUE(testsupport::waitFor([&] { return late->checkAndWaitForInitialDatabaseLoad(); }, 10));
  EXPECT_EQ(textOf(late->fetchedConfig()[kNamespace]["f"]), "stored fetched");
  EXPECT_EQ(textOf(reloaded()->fetchedConfig()[kNamespace]["f"]), "stored fetched");
}
