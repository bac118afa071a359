// The profile list reached from the analyser's current-input bar: its sections, rows and headers,
// enabling a profile, profiles of inputs that are not connected, adding a profile for an external
// input, and opening one in the tuning screen.
#include <gtest/gtest.h>

#include "app/RightMenuVC.h"
#include "app/SideMenuController.h"
#include "app/vlxEventTracer.h"
#include "overlays/StatusOverlay.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIColorNamed.h"
#include "platform/uikit/UIKeyInput.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"
#include "tests/app/ProfileScreensHarness.h"

namespace {

class ProfileList : public ProfileScreensHarness {
 protected:
  void SetUp() override {
    ProfileScreensHarness::SetUp();
    launchApp();
  }
  InputProfilesService& service() { return InputProfilesService::sharedService(); }
  std::shared_ptr<InputProfileTableViewCell> row(const std::shared_ptr<InputProfilesTableViewController>& list,
                                                 int64_t section, int64_t r) {
    list->tableView->scrollToRowAtIndexPath({section, r});
    layout();
    return std::dynamic_pointer_cast<InputProfileTableViewCell>(list->tableView->cellForRowAtIndexPath({section, r}));
  }
  std::shared_ptr<UIAlertController> presentedAlert() {
    return std::dynamic_pointer_cast<UIAlertController>(nav()->presentedViewController());
  }
  DeviceInputDescriptionRef usb = std::make_shared<DeviceInputDescription>("usb", "USB Mic", AVAudioSessionPortUSBAudio);
};

TEST_F(ProfileList, TheBarOpensTheListOfPredefinedAndOwnProfilesUnderTheirHeaders) {
  auto list = openList();
  ASSERT_TRUE(list);
  EXPECT_FALSE(nav()->isNavigationBarHidden());
  EXPECT_EQ(list->title(), "Microphone profiles");
  EXPECT_FALSE(nav()->rightBarButton()->isHidden()) << "the + button";
  auto table = list->tableView;
  EXPECT_EQ(table->numberOfSections(), 2);
  EXPECT_EQ(table->numberOfRowsInSection(0), 6);
  EXPECT_EQ(table->numberOfRowsInSection(1), 0);
  EXPECT_EQ(table->rectForHeaderInSection(1).size.height, 55) << "an empty section keeps its header";
  EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}).size.height, 43);
  auto bottom = row(list, 0, 0);
  ASSERT_TRUE(bottom);
  EXPECT_EQ(bottom->lblTitle->text(), "Built-in Microphone (Bottom)");
  EXPECT_EQ(bottom->lblTitle->alpha(), 1);
  EXPECT_TRUE(bottom->btnEdit->isHidden()) << "a predefined row is never edited";
  EXPECT_EQ(bottom->ivLogo->image()->renderingMode(), UIImageRenderingMode::AlwaysTemplate);
  auto airPods = row(list, 0, 5);
  EXPECT_EQ(airPods->lblTitle->text(), "AirPods (not connected)");
  EXPECT_EQ(airPods->lblTitle->alpha(), 0.5);
  auto header = table->headerViewForSection(0);
  ASSERT_TRUE(header);
  auto label = std::dynamic_pointer_cast<UILabel>(header->subviews()[0]);
  ASSERT_TRUE(label);
  EXPECT_EQ(label->text(), "PREDEFINED PROFILES");
  table->setContentOffset({0, 1000});  // to the end
  layout();
  auto userHeader = table->headerViewForSection(1);
  ASSERT_TRUE(userHeader);
  EXPECT_EQ(std::dynamic_pointer_cast<UILabel>(userHeader->subviews()[0])->text(), "YOUR PROFILES");
  EXPECT_EQ(events(), std::vector<std::string>{"profiles_table_opened"});
  EXPECT_EQ(list->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
}

TEST_F(ProfileList, ChoosingTheBuiltInProfileEnablesItAndReturnsToTheAnalyserAboutASecondLater) {
  auto list = openList();
  tap(row(list, 0, 1));  // Front
  auto front = service().internalPredefinedProfiles()[1];
  EXPECT_EQ(service().selectedProfileId(), front->profileId());
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Spinner);
  settle(0.5);
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Success);
  EXPECT_EQ(StatusOverlay::status(), std::nullopt);
  EXPECT_EQ(top(), list) << "still the list";
  settle(0.6);
  EXPECT_EQ(top(), screen()) << "back at the analyser";
  EXPECT_TRUE(nav()->isNavigationBarHidden()) << "the analyser fills the screen";
  EXPECT_EQ(screen()->vInputPlank->currentTitle(), "FRONT");
  EXPECT_FALSE(screen()->vInputPlank->isHidden());
  EXPECT_EQ(service().currentProfile(), front);
  EXPECT_EQ(events(), (std::vector<std::string>{"profiles_table_opened", "profiles_table_select_profile"}));
}

TEST_F(ProfileList, AfterTheHelpScreenTheBarStillOpensTheListOnTheAnalysersNavigationStack) {
  auto menu = std::dynamic_pointer_cast<SideMenuController>(delegate->window()->rootViewController());
  ASSERT_TRUE(menu);
  auto entries = [&] { return std::dynamic_pointer_cast<RightMenuVC>(menu->rightViewController()); };
  auto settleMenu = [&] {
    for (int i = 0; i < 200 && menu->queuedAnimationCount() > 0; ++i) clock.step(0.05);
    settle(0.1);
  };
  menu->rightPanelToggleAnimated(true);
  settleMenu();
  tap(entries()->btnHelp);
  settleMenu();
  ASSERT_EQ(menu->frontViewController(), delegate->helpVC());
  menu->rightPanelToggleAnimated(true);
  settleMenu();
  tap(entries()->btnOctave);
  settleMenu();
  ASSERT_TRUE(screen()->navigationController()) << "the analyser is back inside its navigation controller";
  auto list = openList();
  ASSERT_TRUE(list);
  EXPECT_EQ(list->navigationController(), screen()->navigationController());
}

TEST_F(ProfileList, AProfileOfAnInputThatIsNotConnectedIsDimmedAndCannotBeEnabled) {
  service().addProfile(profileFor(10, "Field mic", usb));
  auto list = openList();
  auto mine = row(list, 1, 0);
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->lblTitle->text(), "Field mic (not connected)");
  EXPECT_EQ(mine->lblTitle->alpha(), 0.5);
  EXPECT_TRUE(mine->btnEdit->isHidden());
  tap(mine);
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Info);
  EXPECT_EQ(StatusOverlay::status(), "This microphone is not connected");
  EXPECT_EQ(service().selectedProfileId(), std::nullopt);
  tap(row(list, 0, 3));  // AirPods Max: no hands-free input is connected in this system
  EXPECT_EQ(service().selectedProfileId(), std::nullopt);
  settle();
  EXPECT_EQ(top(), list);
}

TEST_F(ProfileList, TheEnabledProfileIsInTheBrandColourAndTheListFollowsChangesMadeElsewhere) {
  auto mic = DeviceInputDescription::withPort(*profilestest::phoneMicrophone());
  auto mine = profileFor(20, "Mine", mic, std::vector<int64_t>(11, 2));
  service().addProfile(mine);
  auto list = openList();
  EXPECT_EQ(*row(list, 1, 0)->lblTitle->textColor(), *UIColor::whiteColor());
  EXPECT_FALSE(row(list, 1, 0)->btnEdit->isHidden()) << "a connected user profile is edited";
  service().enableProfile(mine, "elsewhere");
  settle();
  EXPECT_EQ(*row(list, 1, 0)->lblTitle->textColor(), *UIColorNamed("brandRed"));
  EXPECT_EQ(*row(list, 1, 0)->ivLogo->tintColor(), *UIColorNamed("brandRed"));
  EXPECT_EQ(*row(list, 0, 0)->lblTitle->textColor(), *UIColor::whiteColor());
  EXPECT_EQ(*row(list, 0, 0)->ivLogo->tintColor(), *UIColorNamed("minorTextColor"));
  // A profile added elsewhere shows after the next change.
  service().addProfile(profileFor(21, "Another", mic));
  service().enableProfile(service().internalPredefinedProfiles()[0], "elsewhere");
  settle();
  EXPECT_EQ(list->tableView->numberOfRowsInSection(1), 2);
  EXPECT_EQ(list->tableDataSource()->profileAtIndexPath({1, 5}), nullptr);
  EXPECT_EQ(list->tableDataSource()->profileAtIndexPath({2, 0}), nullptr);
}

TEST_F(ProfileList, TheEditButtonOpensTheTuningScreen) {
  auto mine = profileFor(30, "Mine", DeviceInputDescription::withPort(*profilestest::phoneMicrophone()));
  service().addProfile(mine);
  auto list = openList();
  tap(row(list, 1, 0)->btnEdit);
  settle();
  auto tuning = std::dynamic_pointer_cast<MicProfileSetupViewController>(top());
  ASSERT_TRUE(tuning);
  EXPECT_EQ(tuning->inputProfile(), mine);
  EXPECT_EQ(tuning->lblCurrentInput->text(), "Mine");
  EXPECT_EQ(events().back(), "profiles_table_edit_profile");
  // A cell whose data source has no list behind it does nothing.
  auto lone = std::make_shared<InputProfileTableDataSource>();
  InputProfileTableViewCell cell;
  lone->editProfile(cell);
}

TEST_F(ProfileList, AddingAProfileForTheOnlyExternalInputAsksForItsNameAndOpensIt) {
  setPorts({profilestest::phoneMicrophone(),
            profilestest::port("wired", "Headset Microphone", AVAudioSessionPortHeadsetMic)});
  auto list = openList();
  nav()->rightBarButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
  settle();
  auto dialog = presentedAlert();
  ASSERT_TRUE(dialog) << "the naming dialog at once, no sheet";
  EXPECT_EQ(dialog->alertTitle(), "New profile for Headset Microphone");
  UIKeyInput::typeText("Stage headset");
  tap(dialog->buttonForAction(*dialog->actions()[0]));
  settle();
  auto tuning = std::dynamic_pointer_cast<MicProfileSetupViewController>(top());
  ASSERT_TRUE(tuning);
  EXPECT_EQ(tuning->inputProfile()->displayName(), "Stage headset");
  EXPECT_EQ(service().profiles().size(), 1u);
  EXPECT_EQ(events()[1], "profiles_table_add_profile");
}

TEST_F(ProfileList, SeveralInputsAreOfferedInASheetAndCancellingTheNamePushesNothing) {
  setPorts({profilestest::phoneMicrophone(),
            profilestest::port("usb", "USB Interface", AVAudioSessionPortUSBAudio, {{"Input 1", ""}, {"Input 2", ""}})});
  auto list = openList();
  nav()->rightBarButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
  settle();
  auto sheet = presentedAlert();
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->preferredStyle(), UIAlertControllerStyle::ActionSheet);
  std::vector<std::string> titles;
  for (const auto& a : sheet->actions()) titles.push_back(a->title());
  EXPECT_EQ(titles, (std::vector<std::string>{"USB Interface (Input 1)", "USB Interface (Input 2)", "Cancel"}));
  EXPECT_TRUE(sheet->actions()[0]->image()) << "each input's logo";
  tap(sheet->buttonForAction(*sheet->actions()[1]));
  settle();
  auto dialog = presentedAlert();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->alertTitle(), "New profile for USB Interface (Input 2)");
  tap(dialog->buttonForAction(*dialog->actions()[1]));  // Cancel
  settle();
  EXPECT_EQ(top(), list);
  EXPECT_TRUE(service().profiles().empty());
}

TEST_F(ProfileList, WithOnlyAirPodsConnectedThereIsNothingToAddAProfileFor) {
  setPorts({profilestest::phoneMicrophone(), profilestest::port("bt", "AirPods Pro", AVAudioSessionPortBluetoothHFP)});
  openList();
  nav()->rightBarButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
  settle(0.1);
  EXPECT_FALSE(presentedAlert());
  EXPECT_EQ(StatusOverlay::status(), "Connect an external microphone to make a profile for it");
}

}  // namespace
