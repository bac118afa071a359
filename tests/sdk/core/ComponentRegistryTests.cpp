#include <gtest/gtest.h>

#include <atomic>

#include "platform/foundation/NSException.h"
#include "sdk/core/ZAVAda.h"

namespace {

// Protocols and the instances behind them.
class Greeter {
 public:
  virtual ~Greeter() = default;
  virtual std::string greet() const = 0;
};
class Counter {
 public:
  virtual ~Counter() = default;
  virtual int id() const = 0;
};
class DefaultOnly {
 public:
  virtual ~DefaultOnly() = default;
};
class Lazy {
 public:
  virtual ~Lazy() = default;
};

// A padding base first, so that a wrong pointer adjustment would show.
struct Padding {
  virtual ~Padding() = default;
  int64_t pad[4] = {1, 2, 3, 4};
};
struct GreeterImpl : Padding, Greeter {
  explicit GreeterImpl(std::string w) : word(std::move(w)) {}
  std::string greet() const override { return word; }
  std::string word;
};
struct CounterImpl : Counter {
  explicit CounterImpl(int i) : value(i) {}
  int id() const override { return value; }
  int value;
};

std::atomic<int> gGreeterCreations{0};
std::atomic<int> gCounterCreations{0};
std::atomic<int> gDefaultOnlyCreations{0};
std::atomic<int> gLazyCreations{0};
std::shared_ptr<ZAVAda> gAppSeenInCreation;

struct FirstLibrary : ZIRLibrary {
  static std::vector<RURIdeziroveRef> componentsToRegister() {
    return {
        RURIdezirove::componentWithProtocol<Greeter>(
            ZIRInstantiationTiming::AlwaysEager,
            {ZIRDependency::dependencyWithProtocol(ZIRProtocol::of<Counter>(), false)},
            [](RURIdeziroveContainer& c, bool* cacheable) -> std::shared_ptr<Greeter> {
              ++gGreeterCreations;
              gAppSeenInCreation = c.app();
              *cacheable = true;
              return std::make_shared<GreeterImpl>("first");
            }),
        RURIdezirove::componentWithProtocol<Counter>(
            ZIRInstantiationTiming::Lazy, {},
            [](RURIdeziroveContainer&, bool* cacheable) -> std::shared_ptr<Counter> {
              *cacheable = false;  // a new instance every time
              return std::make_shared<CounterImpl>(++gCounterCreations);
            }),
    };
  }
};

struct SecondLibrary : ZIRLibrary {
  static std::vector<RURIdeziroveRef> componentsToRegister() {
    return {
        // Loses against the first registration of Greeter.
        RURIdezirove::componentWithProtocol<Greeter>(
            ZIRInstantiationTiming::AlwaysEager, {},
            [](RURIdeziroveContainer&, bool* cacheable) -> std::shared_ptr<Greeter> {
              *cacheable = true;
              return std::make_shared<GreeterImpl>("second");
            }),
        RURIdezirove::componentWithProtocol<DefaultOnly>(
            ZIRInstantiationTiming::EagerInDefaultApp, {},
            [](RURIdeziroveContainer&, bool* cacheable) -> std::shared_ptr<DefaultOnly> {
              ++gDefaultOnlyCreations;
              *cacheable = true;
              return std::make_shared<DefaultOnly>();
            }),
        RURIdezirove::componentWithProtocol<Lazy>(
            [](RURIdeziroveContainer& c, bool* cacheable) -> std::shared_ptr<Lazy> {
              ++gLazyCreations;
              *cacheable = true;
              // A creation callback may look up other components of the same container.
              EXPECT_TRUE(RURIdeziroveType::instanceForProtocol<Greeter>(c));
              return std::make_shared<Lazy>();
            }),
    };
  }
};

struct NotALibrary {};

class ComponentRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZAVAda::resetForTesting();
    gGreeterCreations = gCounterCreations = gDefaultOnlyCreations = gLazyCreations = 0;
    gAppSeenInCreation.reset();
    ZAVAda::registerInternalLibrary<FirstLibrary>("zir-first");
    ZAVAda::registerInternalLibrary<SecondLibrary>("zir-second");
  }
  void TearDown() override {
    gAppSeenInCreation.reset();
    ZAVAda::resetForTesting();
  }
  static DEVEduzoveRef options() { return std::make_shared<const DEVEduzove>("1:2:ios:3", "2"); }
};

TEST_F(ComponentRegistryTest, FirstRegistrationWinsAndCacheableInstancesAreKept) {
  ZAVAda::configureWithOptions(options());
  auto app = ZAVAda::defaultApp();
  auto greeter = RURIdeziroveType::instanceForProtocol<Greeter>(app->container());
  ASSERT_TRUE(greeter);
  EXPECT_EQ(greeter->greet(), "first");
  EXPECT_EQ(RURIdeziroveType::instanceForProtocol<Greeter>(app->container()), greeter);
  EXPECT_EQ(gGreeterCreations.load(), 1);
  EXPECT_EQ(gAppSeenInCreation, app);

  auto c1 = RURIdeziroveType::instanceForProtocol<Counter>(app->container());
  auto c2 = RURIdeziroveType::instanceForProtocol<Counter>(app->container());
  ASSERT_TRUE(c1 && c2);
  EXPECT_NE(c1, c2);
  EXPECT_EQ(c1->id(), 1);
  EXPECT_EQ(c2->id(), 2);

  class Unregistered {};
  EXPECT_FALSE(RURIdeziroveType::instanceForProtocol<Unregistered>(app->container()));
}

TEST_F(ComponentRegistryTest, EagerComponentsAreMadeAtConfigureLazyOnesOnFirstRequest) {
  ZAVAda::configureWithName("other", options());
  EXPECT_EQ(gGreeterCreations.load(), 1);      // always eager
  EXPECT_EQ(gDefaultOnlyCreations.load(), 0);  // not the default app
  EXPECT_EQ(gLazyCreations.load(), 0);

  ZAVAda::configureWithOptions(options());
  EXPECT_EQ(gGreeterCreations.load(), 2);  // one per app
  EXPECT_EQ(gDefaultOnlyCreations.load(), 1);
  EXPECT_EQ(gLazyCreations.load(), 0);

  auto app = ZAVAda::defaultApp();
  EXPECT_EQ(app->container()->cachedInstanceCount(), 2u);
  auto lazy = RURIdeziroveType::instanceForProtocol<Lazy>(app->container());
  ASSERT_TRUE(lazy);
  EXPECT_EQ(gLazyCreations.load(), 1);
  EXPECT_EQ(RURIdeziroveType::instanceForProtocol<Lazy>(app->container()), lazy);
  EXPECT_EQ(gLazyCreations.load(), 1);
  // Each app's container keeps its own instances.
  auto other = ZAVAda::appNamed("other");
  EXPECT_NE(RURIdeziroveType::instanceForProtocol<Greeter>(other->container()),
            RURIdeziroveType::instanceForProtocol<Greeter>(app->container()));
}

TEST_F(ComponentRegistryTest, NonConformingRegistrantRaisesAndUserAgentListsLibraries) {
  try {
    ZAVAda::registerInternalLibrary<NotALibrary>("zir-bad");
    ADD_FAILURE() << "no exception";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), NSInvalidArgumentException);
    EXPECT_NE(e.reason().find("NotALibrary attempted to register components, but it does not "
                              "conform to `ZIRLibrary or provide a `componentsToRegister:` method."),
              std::string::npos)
        << e.reason();
  }
  std::string agent = ZAVAda::zirezizeUserAgent();
  EXPECT_NE(agent.find("zir-first/7.10.0"), std::string::npos) << agent;
  EXPECT_NE(agent.find("zir-second/7.10.0"), std::string::npos) << agent;
  EXPECT_EQ(agent.find("zir-bad"), std::string::npos) << agent;
  EXPECT_LT(agent.find("zir-first/"), agent.find("zir-second/"));  // sorted
  EXPECT_NE(agent.find("os-version/"), std::string::npos) << agent;
  // Names with spaces would break the header; they are refused.
  ZAVAda::registerLibrary("bad name", "1.0");
  EXPECT_EQ(ZAVAda::zirezizeUserAgent().find("bad name"), std::string::npos);
}

}  // namespace
