// Stored profiles damaged one bit at a time, as a worn disk or a bad copy leaves them: damage inside
// the bytes that only one profile's objects take costs at most that profile, never the whole list
// and never another profile.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NSUserDefaults.h"
#include "profiles/InputProfilesService.h"
#include "profiles/InputProfilesStorage.h"
#include "tests/platform/foundation/PlistBuilders.h"
#include "tests/profiles/ProfilesHarness.h"

namespace {

using namespace profilestest;
using plist_test::BinaryObjects;

// The archive's object table ("$objects"): its place among the objects and the objects it lists.
struct ArchiveTable {
  uint64_t index;
  std::vector<uint64_t> entries;
};

// The objects of a keyed archive reached from `start`, through references and through UIDs into
// the archive's object table, without entering those in `stop`. The table itself lists every
// entry; an entry is reached only through a UID.
std::set<uint64_t> reached(const BinaryObjects& objects, const ArchiveTable& table, uint64_t start,
                           const std::set<uint64_t>& stop = {}) {
  std::set<uint64_t> seen;
  std::vector<uint64_t> pending{start};
  while (!pending.empty()) {
    const uint64_t i = pending.back();
    pending.pop_back();
    if (i >= objects.count() || stop.count(i) || !seen.insert(i).second) continue;
    if (i != table.index)
      for (uint64_t r : objects.references(i)) pending.push_back(r);
    if (auto u = objects.uid(i); u && *u < table.entries.size()) pending.push_back(table.entries[*u]);
  }
  return seen;
}

// Everything a profile holds that the archive keeps.
void expectSameProfile(const InputProfile& a, const InputProfile& b, const std::string& where) {
  EXPECT_EQ(a.isPredefined(), b.isPredefined()) << where;
  EXPECT_EQ(a.profileId(), b.profileId()) << where;
  EXPECT_EQ(a.displayName(), b.displayName()) << where;
  ASSERT_TRUE(a.inputDevice() && b.inputDevice()) << where;
  const auto &da = *a.inputDevice(), &db = *b.inputDevice();
  EXPECT_EQ(da.portId(), db.portId()) << where;
  EXPECT_EQ(da.portName(), db.portName()) << where;
  EXPECT_EQ(da.portType(), db.portType()) << where;
  EXPECT_EQ(da.dataSourceName(), db.dataSourceName()) << where;
  EXPECT_EQ(da.dataSourceId(), db.dataSourceId()) << where;
  EXPECT_EQ(da.dataSourceOrientation(), db.dataSourceOrientation()) << where;
  EXPECT_EQ(da.isFake(), db.isFake()) << where;
  ASSERT_EQ(a.tuneBands().size(), b.tuneBands().size()) << where;
  for (size_t i = 0; i < a.tuneBands().size(); ++i) {
    EXPECT_EQ(a.tuneBands()[i]->frequency(), b.tuneBands()[i]->frequency()) << where;
    EXPECT_EQ(a.tuneBands()[i]->fixValue(), b.tuneBands()[i]->fixValue()) << where;
    EXPECT_EQ(a.tuneBands()[i]->currentValue(), b.tuneBands()[i]->currentValue()) << where;
  }
  ASSERT_EQ(!a.mainGain(), !b.mainGain()) << where;
  if (a.mainGain()) {
    EXPECT_EQ(a.mainGain()->fixValue(), b.mainGain()->fixValue()) << where;
  }
}

class ProfileDamage : public ProfilesTest {};

TEST_F(ProfileDamage, ABitFlippedInOneProfilesOwnBytesCostsAtMostThatProfile) {
  // Four profiles made as the application makes them: for inputs that were plugged in, named by
  // the user, tuned and stored by the service.
  auto& service = InputProfilesService::sharedService();
  const auto usb = port("usb-1", "USB Measurement Mic", AVAudioSessionPortUSBAudio);
  const auto headset = port("wired", "Headset Microphone", AVAudioSessionPortHeadsetMic);
  const auto bluetooth = port("bt-7", "Studio Buds", AVAudioSessionPortBluetoothHFP);
  service.addProfile(profileWith(1700000001, "Measurement", DeviceInputDescription::withPort(*usb),
                                 {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, -3));
  service.addProfile(profileWith(1700000002, "Headset", DeviceInputDescription::withPort(*headset),
                                 {-12, -6, 0, 0, 0, 2, 2, 4, 6, 9, 9}, 5));
  service.addProfile(profileWith(1700000003, "Buds", DeviceInputDescription::withPort(*bluetooth),
                                 std::vector<int64_t>(11, 0), std::nullopt));
  service.addProfile(profileWith(1700000004, "Front", DeviceInputDescription::withPort(*phoneMicrophone()),
                                 {30, 20, 10, 0, -10, -20, -30, 0, 15, 25, 35}, 100));
  const Bytes stored = value::dataBytes(*NSUserDefaults::standardUserDefaults()->objectForKey(
      InputProfilesService::kStorageKey));
  NSErrorRef error;
  auto originals = InputProfilesStorage::unarchiveProfiles(stored, &error);
  ASSERT_TRUE(originals && originals->size() == 4u);

  // The bytes of the objects that only the second profile reaches (its record, its name, its
  // input's description, its bands and main gain, the UIDs that lead to them).
  const std::string_view bytes(reinterpret_cast<const char*>(stored.data()), stored.size());
  ASSERT_EQ(bytes.substr(0, 8), "bplist00");
  const BinaryObjects objects(bytes);
  const uint64_t tableIndex = *objects.valueFor(objects.top(), "$objects");
  const ArchiveTable table{tableIndex, objects.references(tableIndex)};
  const auto root = objects.uid(*objects.valueFor(*objects.valueFor(objects.top(), "$top"), "root"));
  ASSERT_TRUE(root);
  const auto list = objects.uid(*objects.valueFor(table.entries[*root], "profiles"));
  ASSERT_TRUE(list);
  std::vector<uint64_t> entries;
  for (uint64_t r : objects.references(*objects.valueFor(table.entries[*list], "NS.objects")))
    entries.push_back(table.entries[*objects.uid(r)]);
  ASSERT_EQ(entries.size(), 4u);
  const size_t p = 1;
  std::set<uint64_t> others = reached(objects, table, objects.top(), {entries[p]});
  std::vector<std::pair<size_t, size_t>> own;
  size_t ownBytes = 0;
  for (uint64_t i : reached(objects, table, entries[p])) {
    if (others.count(i)) continue;
    own.push_back(objects.range(i));
    ownBytes += objects.range(i).second - objects.range(i).first;
  }
  ASSERT_GT(ownBytes, 200u) << "the profile has objects of its own";

  size_t flips = 0, unreadable = 0, lost = 0;
  for (const auto& [begin, end] : own) {
    for (size_t at = begin; at < end; ++at) {
      for (int bit = 0; bit < 8; ++bit) {
        Bytes damaged = stored;
        damaged[at] ^= static_cast<uint8_t>(1 << bit);
        ++flips;
        std::vector<std::string> skipped;
        auto back = InputProfilesStorage::unarchiveProfiles(damaged, &error, &skipped);
        if (!back) {
          ++unreadable;
          continue;
        }
        const std::string where = "byte " + std::to_string(at) + ", bit " + std::to_string(bit);
        // The damaged profile is read (perhaps changed) in its place, or left out with a reason.
        ASSERT_TRUE(back->size() == 4u || (back->size() == 3u && skipped.size() == 1u && !skipped[0].empty()))
            << where;
        if (back->size() == 3u) ++lost;
        for (size_t q = 0, k = 0; q < 4; ++q) {
          if (q == p) {
            if (back->size() == 4u) ++k;
            continue;
          }
          expectSameProfile(*(*back)[k++], *(*originals)[q], where + ": profile " + std::to_string(q));
        }
        if (HasFailure()) return;
      }
    }
  }
  std::printf("%zu bytes of one profile's own objects, %zu single-bit flips: %zu leave the list unreadable, "
              "%zu lose only that profile, %zu read all four\n",
              ownBytes, flips, unreadable, lost, flips - unreadable - lost);
  EXPECT_LE(unreadable * 100, flips * 5) << unreadable << " of " << flips << " flips leave the list unreadable";
}

}  // namespace
