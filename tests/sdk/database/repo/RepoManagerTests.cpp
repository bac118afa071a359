// The registry of repositories: one per configuration name and repository info, refusing a
// second, disposing by name, reaching every repository to go offline and online, and staying
// usable from many threads while work on the work queue asks for repositories too.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/foundation/NSException.h"
#include "tests/sdk/database/repo/RepoTestSupport.h"

using namespace repotest;

namespace {

FRepoInfoRef info(const char* host, const char* ns = "ns") { return std::make_shared<const FRepoInfo>(host, true, ns); }

ZIRDatabaseConfigRef offlineConfig(const std::string& name) { return std::make_shared<ZIRDatabaseConfig>(name); }

class RepoManagerTest : public RepoTest {
 protected:
  ZIRDatabaseConfigRef remember(ZIRDatabaseConfigRef config) {
    configs_.push_back(config);
    return config;
  }
};

}  // namespace

TEST_F(RepoManagerTest, EqualInfosGetTheSameRepositoryAndASecondOneIsRefused) {
  auto config = remember(offlineConfig("manager"));
  std::shared_ptr<FRepo> first = FRepoManager::getRepo(info("one.example.com"), config);
  std::shared_ptr<FRepo> again = FRepoManager::getRepo(info("one.example.com"), config);
  EXPECT_EQ(first, again);
  EXPECT_TRUE(config->isFrozen());
  EXPECT_NE(first, FRepoManager::getRepo(info("two.example.com"), config));
  EXPECT_EQ(FRepoManager::repoCount(config), 2u);
  // The repository reports the database object that was made for it.
  ASSERT_NE(first->database(), nullptr);
  EXPECT_EQ(first->database()->repo(), first);

  try {
    FRepoManager::createRepo(info("one.example.com"), config, nullptr);
    FAIL() << "a second repository was made";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "RepoExists");
    EXPECT_EQ(e.reason(), "createRepo called for Repo that already exists.");
  }
}

TEST_F(RepoManagerTest, DisposingANameWithoutRepositoriesChangesNothing) {
  auto kept = remember(offlineConfig("kept"));
  FRepoManager::getRepo(info("one.example.com"), kept);
  FRepoManager::disposeRepos(offlineConfig("nothing-here"));
  EXPECT_EQ(FRepoManager::repoCount(kept), 1u);
  FRepoManager::disposeRepos(kept);
  EXPECT_EQ(FRepoManager::repoCount(kept), 0u);
  // Disposed, the name may have a repository again.
  EXPECT_NE(FRepoManager::getRepo(info("one.example.com"), kept), nullptr);
}

TEST_F(RepoManagerTest, DisposingFromTheWorkQueueItselfDoesNotWaitForIt) {
  auto config = remember(offlineConfig("from-queue"));
  FRepoManager::getRepo(info("one.example.com"), config);
  onWorkQueue([&] { FRepoManager::disposeRepos(config); });
  EXPECT_EQ(FRepoManager::repoCount(config), 0u);
}

TEST_F(RepoManagerTest, AnUnsafeConfigurationNameIsRefusedWhenItWouldNameTheCacheFolder) {
  for (const char* name : {"..", "", "../.."}) {
    auto config = remember(offlineConfig(name));
    config->setPersistenceEnabled(true);
    EXPECT_THROW(FRepoManager::getRepo(info("one.example.com"), config), NSException) << name;
    EXPECT_EQ(FRepoManager::repoCount(config), 0u);
  }
  // Without persistence the name names no folder.
  auto config = remember(offlineConfig(".."));
  EXPECT_NE(FRepoManager::getRepo(info("one.example.com"), config), nullptr);
}

TEST_F(RepoManagerTest, GoingOfflineAndOnlineReachesEveryRepository) {
  auto first = makeDatabase({.name = "first"});
  auto second = makeDatabase({.name = "second"});
  waitUntilConnected(first);
  waitUntilConnected(second);
  FRepoManager::interruptAll();
  ASSERT_TRUE(waitFor([&] { return !connected(first) && !connected(second); }));
  FRepoManager::resume(first->config());
  waitUntilConnected(first);
  settle();
  EXPECT_FALSE(connected(second));
  FRepoManager::resumeAll();
  waitUntilConnected(second);
  FRepoManager::interrupt(second->config());
  ASSERT_TRUE(waitFor([&] { return !connected(second); }));
  EXPECT_TRUE(connected(first));
}

TEST_F(RepoManagerTest, TheRegistryStaysConsistentUnderConcurrentUseFromThreadsAndTheWorkQueue) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 40;
  std::vector<ZIRDatabaseConfigRef> configs;
  for (int t = 0; t < kThreads; ++t) configs.push_back(remember(offlineConfig("busy-" + std::to_string(t))));

  auto work = std::async(std::launch::async, [&] {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int round = 0; round < kRounds; ++round) {
          auto repoInfo = info("host.example.com", ("ns" + std::to_string(round % 3)).c_str());
          std::shared_ptr<FRepo> repo = FRepoManager::getRepo(repoInfo, configs[static_cast<size_t>(t)]);
          EXPECT_NE(repo, nullptr);
          // Work on the work queue asks for repositories while others dispose and interrupt.
          ZIRDatabaseQuery::sharedQueue()->async([repoInfo, config = configs[static_cast<size_t>(t)]] {
            FRepoManager::getRepo(repoInfo, config);
          });
          if (round % 10 == 9) FRepoManager::disposeRepos(configs[static_cast<size_t>((t + 1) % kThreads)]);
          if (round % 7 == 0) FRepoManager::interruptAll();
        }
      });
    }
    for (auto& thread : threads) thread.join();
  });
  ASSERT_EQ(work.wait_for(std::chrono::seconds(120)), std::future_status::ready) << "the registry deadlocked";
  settle();
  for (const auto& config : configs) EXPECT_LE(FRepoManager::repoCount(config), 3u);
}
