// The application's side menu, help screens and store page: the main storyboard's scene graph, the
// menu's selection and taps, the help screen made at launch, the dB chart page, pages that are
// missing, and the store that is not there. A mode or a setting of the axes changed while the chart
// is stopped.
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>

#include "analysis/UISpectrumView.h"
#include "app/AEProductController.h"
#include "app/HelpVC.h"
#include "app/RightMenuVC.h"
#include "app/SideMenuController.h"
#include "app/dbaHelpVC.h"
#include "app/storyboards/MainStoryboard.h"
#include "app/vlxEventTracer.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSObjCRuntime.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIWindow.h"
#include "tests/app/AppHarness.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestHome.h"
#include "tests/support/WaitFor.h"

namespace {

class SideMenuScreensTest : public AppHarness {
 protected:
  std::shared_ptr<SideMenuController> menu() const {
    return std::dynamic_pointer_cast<SideMenuController>(delegate->window()->rootViewController());
  }
  std::shared_ptr<RightMenuVC> entries() const { return std::dynamic_pointer_cast<RightMenuVC>(menu()->rightViewController()); }
  std::shared_ptr<HelpVC> help() const { return std::dynamic_pointer_cast<HelpVC>(delegate->helpVC()); }
  // Serves the run loop until every queued change of the container is over.
  void settle() {
    for (int i = 0; i < 200 && menu()->queuedAnimationCount() > 0; ++i) clock.step(0.05);
    clock.step(0.05);
    layout();
  }
  void openMenu() {
    tap(screen()->view()->hitTest({543, 28}, nullptr));  // the menu button, top right
    settle();
    ASSERT_EQ(menu()->frontViewPosition(), PositionRight);
  }
  std::string trace() const { return defaults()->stringForKey(kEventsStackKey).value_or(""); }

  testsupport::ManualClock clock;
};

TEST_F(SideMenuScreensTest, TheMainStoryboardPutsTheAnalyserInItsNavigationControllerInFrontAndTheMenuAtTheRight) {
  launch();
  ASSERT_TRUE(menu());
  auto nav = std::dynamic_pointer_cast<UINavigationController>(menu()->frontViewController());
  ASSERT_TRUE(nav);
  EXPECT_TRUE(nav->isNavigationBarHidden());
  EXPECT_EQ(nav->topViewController(), screen());
  EXPECT_EQ(sideMenuController(*screen()), menu());
  EXPECT_TRUE(entries());
  EXPECT_EQ(menu()->rearViewController(), nullptr);  // the storyboard has no "sm_rear"
  EXPECT_EQ(menu()->frontViewPosition(), PositionClosed);
  EXPECT_FALSE(entries()->isViewLoaded());  // it loads when it first opens
  EXPECT_TRUE(screen()->isVisible());
  // The help screen is made once, at launch, and not loaded until shown.
  ASSERT_TRUE(help());
  EXPECT_FALSE(help()->isViewLoaded());
}

TEST_F(SideMenuScreensTest, TheMenuButtonOpensTheMenuWithTheSavedModeSelectedAndClosesIt) {
  defaults()->setObject(Value("sonogram"), "CURRENT_TYPE");
  launch();
  openMenu();
  auto e = entries();
  ASSERT_TRUE(e->btnSpectrograph.lock());
  EXPECT_TRUE(e->btnSpectrograph.lock()->isSelected());
  EXPECT_EQ(e->lastSelectedButton, e->btnSpectrograph.lock());
  EXPECT_FALSE(e->btnOctave->isSelected());
  EXPECT_EQ(*e->btnOctave->titleForState(UIControlStateSelected), "Octave RTA");
  EXPECT_EQ(*e->btnFFT->titleForState(UIControlStateNormal), "FFT Plot");
  EXPECT_EQ(*e->btnHelp->titleForState(UIControlStateNormal), "Help");
  EXPECT_EQ(e->btnFFT->contentHorizontalAlignment(), UIControlContentHorizontalAlignment::Left);
  EXPECT_TRUE(e->isVisible());
  // The menu's entries lie on the part of the panel the front view uncovers.
  CGRect f = e->btnHelp->convertRectToView(e->btnHelp->bounds(), nullptr);
  EXPECT_GE(f.origin.x, 568 - 260);
  EXPECT_LE(CGRectGetMaxX(f), 568);
  // The button, still visible at the left edge of the shifted analyser, closes it.
  tap(screen()->view()->hitTest({543, 28}, nullptr));
  settle();
  EXPECT_EQ(menu()->frontViewPosition(), PositionClosed);
  EXPECT_FALSE(e->isVisible());
}

TEST_F(SideMenuScreensTest, ModeEntriesSwitchTheAnalyserAndBringBackItsNavigationControllerAndHelpComesAndGoes) {
  defaults()->setObject(Value("fft"), "CURRENT_TYPE");
  launch();
  auto nav = screen()->navigationController();
  openMenu();
  EXPECT_TRUE(entries()->btnFFT->isSelected());

  // Help: the help screen in front, the analyser hidden (its chart stops), its mode kept.
  tap(entries()->btnHelp);
  EXPECT_TRUE(entries()->btnHelp->isSelected());
  EXPECT_FALSE(entries()->btnFFT->isSelected());
  settle();
  EXPECT_EQ(menu()->frontViewController(), help());
  EXPECT_EQ(menu()->frontViewPosition(), PositionClosed);
  EXPECT_FALSE(screen()->isVisible());
  EXPECT_TRUE(help()->isVisible());
  EXPECT_EQ(defaults()->stringForKey("CURRENT_TYPE"), "fft");
  EXPECT_NE(trace().find("/Help/"), std::string::npos);

  // The help screen's menu button brings the menu back over it.
  tap(help()->btnMenu);
  settle();
  EXPECT_EQ(menu()->frontViewPosition(), PositionRight);

  // "Octave RTA" switches the analyser and puts back the navigation controller that holds it, so
  // the current-input bar's push still has a navigation controller to push on.
  tap(entries()->btnOctave);
  settle();
  EXPECT_EQ(defaults()->stringForKey("CURRENT_TYPE"), "octave");
  EXPECT_EQ(screen()->spectrumView->scaleType(), 3);
  EXPECT_EQ(menu()->frontViewController(), nav);
  EXPECT_EQ(screen()->navigationController(), nav);
  EXPECT_EQ(nav->topViewController(), screen());
  EXPECT_TRUE(screen()->isVisible());
  EXPECT_FALSE(help()->isVisible());
  EXPECT_NE(trace().find("/Octave/"), std::string::npos);

  // The current-input bar closes the menu before it pushes.
  openMenu();
  screen()->openInputsView();
  settle();
  EXPECT_EQ(menu()->frontViewPosition(), PositionClosed);
}

TEST_F(SideMenuScreensTest, TappingTheSelectedEntryAgainSwitchesAndPushesAgainAndTracesItAgain) {
  defaults()->setObject(Value("octave"), "CURRENT_TYPE");
  launch();
  openMenu();
  auto octave = entries()->btnOctave;
  EXPECT_TRUE(octave->isSelected());
  tap(octave);
  EXPECT_TRUE(octave->isSelected());
  EXPECT_EQ(entries()->lastSelectedButton, octave);
  EXPECT_EQ(menu()->frontViewPosition(), PositionRightMost);  // the push opens fully first
  settle();
  EXPECT_EQ(menu()->frontViewPosition(), PositionClosed);
  openMenu();
  tap(entries()->btnSpectrograph.lock());
  settle();
  EXPECT_EQ(defaults()->stringForKey("CURRENT_TYPE"), "sonogram");
  openMenu();
  tap(entries()->btnFFT);
  settle();
  EXPECT_EQ(defaults()->stringForKey("CURRENT_TYPE"), "fft");
  const std::string t = trace();
  EXPECT_NE(t.find("/Octave/"), std::string::npos);
  EXPECT_NE(t.find("/spectrograph/"), std::string::npos);
  EXPECT_NE(t.find("/FFT/"), std::string::npos);
}

TEST_F(SideMenuScreensTest, TheHelpScreenShowsItsRenderedPageWithAClearBackgroundARateButtonAndNoFeedback) {
  launch();
  openMenu();
  tap(entries()->btnHelp);
  settle();
  auto h = help();
  ASSERT_TRUE(h->webView);
  ASSERT_TRUE(testsupport::waitFor([&] { return !h->webView->isLoading(); }));
  EXPECT_TRUE(h->webView->hasPage());
  EXPECT_EQ(h->webView->request()->URL(), "help.html");
  EXPECT_EQ(h->webView->pageTitle(), "Spectrum Analyser Help");
  EXPECT_EQ(h->webView->backgroundColor()->alpha(), 0);
  EXPECT_FALSE(h->webView->isOpaque());
  EXPECT_TRUE(h->btnFeedback->isHidden());
  EXPECT_EQ(*h->btnFeedback->titleForState(UIControlStateNormal), "Feedback");
  EXPECT_FALSE(h->btnRateUs->isHidden());
  EXPECT_EQ(*h->btnRateUs->titleForState(UIControlStateNormal), "Rate Us");
  EXPECT_EQ(h->btnRateUs->layer()->cornerRadius(), 14.0);
  EXPECT_TRUE(h->btnRateUs->clipsToBounds());
  // The rate button does nothing.
  const std::string before = trace();
  tap(h->btnRateUs);
  settle();
  EXPECT_EQ(trace(), before);
  EXPECT_EQ(menu()->frontViewController(), h);
  EXPECT_EQ(menu()->frontViewPosition(), PositionClosed);
  // The same screen each time: its page is loaded once.
  openMenu();
  tap(entries()->btnOctave);
  settle();
  openMenu();
  tap(entries()->btnHelp);
  settle();
  EXPECT_EQ(help(), h);
  EXPECT_EQ(h->webView->request()->URL(), "help.html");
}

// The help screen has no way back to its page (it is loaded once, and "Help" brings back the same
// screen): no link of the page may put another page in its place. Links to other sites go to the
// desktop's browser and are not followed here.
TEST_F(SideMenuScreensTest, NoLinkOfTheHelpPageReplacesItInTheHelpScreen) {
  launch();
  openMenu();
  tap(entries()->btnHelp);
  settle();
  auto h = help();
  ASSERT_TRUE(testsupport::waitFor([&] { return !h->webView->isLoading(); }));
  auto path = NSBundle::mainBundle().pathForResource("help", "html");
  ASSERT_TRUE(path);
  std::ifstream file(*path);
  const std::string html((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::regex anchor(R"re(<a\s[^>]*href="([^"]*)")re");
  int followed = 0;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), anchor); it != std::sregex_iterator(); ++it) {
    const std::string address = (*it)[1];
    if (address.rfind("http://", 0) == 0 || address.rfind("https://", 0) == 0 || address.rfind("mailto:", 0) == 0) {
      continue;
    }
    SCOPED_TRACE(address);
    h->webView->followLink(address);
    ASSERT_TRUE(testsupport::waitFor([&] { return !h->webView->isLoading(); }));
    EXPECT_EQ(h->webView->request()->URL(), "help.html");
    EXPECT_TRUE(h->webView->hasPage());
    ++followed;
  }
  EXPECT_GE(followed, 5);  // the page's table of contents
}

TEST_F(SideMenuScreensTest, TheDBAHelpButtonPresentsTheChartPageAndItsCloseButtonDismissesIt) {
  launch();
  tap(screen()->btnDBAHelp.lock());
  auto page = std::dynamic_pointer_cast<dbaHelpVC>(screen()->presentedViewController());
  ASSERT_TRUE(page);
  clock.step(0.4);
  EXPECT_TRUE(page->isVisible());
  EXPECT_FALSE(screen()->isVisible());
  const auto& request = *page->web->request();
  EXPECT_EQ(request.URL(), "dbchart.html");
  EXPECT_EQ(request.cachePolicy(), NSURLRequest::CachePolicy::ReloadIgnoringLocalAndRemoteCacheData);
  EXPECT_EQ(static_cast<int>(request.cachePolicy()), 4);
  EXPECT_EQ(request.timeoutInterval(), 30.0);
  ASSERT_TRUE(testsupport::waitFor([&] { return !page->web->isLoading(); }));
  EXPECT_EQ(page->web->pageTitle(), "Sound levels in dB-A");
  EXPECT_FALSE(page->web->isOpaque());
  page->closeView(nullptr);
  clock.step(0.4);
  EXPECT_EQ(screen()->presentedViewController(), nullptr);
  EXPECT_TRUE(screen()->isVisible());
  // A new page each time it is asked for.
  tap(screen()->btnDBAHelp.lock());
  EXPECT_NE(screen()->presentedViewController(), page);
  clock.step(0.4);
}

// ---- A mode chosen while the chart is stopped ----

class StoppedModeChangeTest : public SideMenuScreensTest {
 protected:
  void SetUp() override {
    SideMenuScreensTest::SetUp();
    if (!EAGLContext::isAvailable()) GTEST_SKIP() << "no GL on this machine";
  }
  std::shared_ptr<UISpectrumView> plot() const { return screen()->spectrumView->spectrumView(); }
  // Plays a 1 kHz tone into the input, a block at a time, while the chart runs.
  void play(double seconds) {
    std::vector<float> block(1024);
    for (int i = 0; i < int(seconds * 43); ++i) {
      for (auto& v : block) v = float(0.3 * std::sin(2 * M_PI * 1000 * double(phase_++) / 44100));
      input->pushSamples(block);
      clock.step(1.0 / 43);
    }
  }
  // The pixels of the plot's last picture that hold anything.
  int drawnPixels() const {
    const auto& picture = plot()->eaglLayer()->presented();
    int count = 0;
    for (size_t i = 3; i < picture.rgba.size(); i += 4) count += picture.rgba[i] != 0;
    return count;
  }
  void stop() {
    tap(screen()->btnStartStop);
    ASSERT_FALSE(screen()->btnStartStop->isSelected());
  }
  void choose(const std::shared_ptr<UIButton>& entry) {
    openMenu();
    tap(entry);
    settle();
  }
  // Still stopped, nothing drawn, and nothing drawn later either; no readout of the old picture.
  void expectStoppedAndEmpty(const char* mode) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(defaults()->stringForKey("CURRENT_TYPE"), mode);
    expectStoppedAndEmpty();
  }
  std::string peakReadout() const { return screen()->lblFloatingLeft->text().value_or(""); }
  // The frequency the peak readout shows ("Peak: 1034Hz, -23 dB"); -1 when it shows none.
  int peakReadoutHz() const {
    const std::string text = peakReadout();
    return text.rfind("Peak: ", 0) == 0 && text.size() > 6 && std::isdigit(static_cast<unsigned char>(text[6]))
               ? std::stoi(text.substr(6))
               : -1;
  }
  void expectStoppedAndEmpty() {
    EXPECT_FALSE(screen()->btnStartStop->isSelected());
    EXPECT_FALSE(screen()->spectrumView->isStarted());
    EXPECT_FALSE(plot()->isAnimating());
    EXPECT_EQ(drawnPixels(), 0) << "the old picture on the new setting's axes";
    EXPECT_EQ(peakReadout(), ViewController::kNoPeakReadout) << "the old picture's peak";
    EXPECT_TRUE(screen()->lblCurrentReadings->isHidden()) << "the readings at the old picture's marker";
    EXPECT_TRUE(screen()->lblMaxMin->isHidden());
    EXPECT_FALSE(plot()->isMarkerVisible());
    clock.step(0.5);
    layout();
    EXPECT_EQ(drawnPixels(), 0);
  }
  uint64_t phase_ = 0;
};

// After Stop the chart stays stopped, and a mode chosen in the menu shows an empty chart of that
// mode: not the FFT line under the octave labels, not the sonogram's columns as hundreds of thin
// bars, not old columns in the sonogram.
TEST_F(StoppedModeChangeTest, AModeChosenAfterStopShowsAnEmptyChartOfThatMode) {
  defaults()->setObject(Value("fft"), "CURRENT_TYPE");
  launch({568, 320}, true);
  play(1.5);
  ASSERT_GT(drawnPixels(), 1000) << "the FFT plot of the tone";
  stop();
  choose(entries()->btnOctave);
  EXPECT_EQ(screen()->spectrumView->scaleType(), 3);
  expectStoppedAndEmpty("octave");

  // Running again draws the new mode; the sonogram after Stop goes to bars that stay empty.
  tap(screen()->btnStartStop);
  play(1.0);
  EXPECT_GT(drawnPixels(), 1000) << "the octave bars of the tone";
  choose(entries()->btnSpectrograph.lock());
  play(1.5);
  ASSERT_GT(drawnPixels(), 1000) << "the sonogram's columns";
  stop();
  choose(entries()->btnOctave);
  expectStoppedAndEmpty("octave");

  // And back to the sonogram: its old columns are gone too; then the FFT plot with the aim on:
  // its cross marks the peak of the trace, and an empty chart has none to mark.
  choose(entries()->btnSpectrograph.lock());
  expectStoppedAndEmpty("sonogram");
  if (!screen()->btnAim->isSelected()) screen()->btnAimTap(screen()->btnAim);  // hidden over the sonogram
  choose(entries()->btnFFT);
  ASSERT_TRUE(screen()->btnAim->isSelected());
  expectStoppedAndEmpty("fft");
}

// ---- A setting changed while the chart is stopped ----

class StoppedSettingChangeTest : public StoppedModeChangeTest {
 protected:
  // Starts the chart (the screen starts it when it appears; a stop before makes it wait for this).
  void start() {
    if (!screen()->btnStartStop->isSelected()) tap(screen()->btnStartStop);
    ASSERT_TRUE(screen()->spectrumView->isStarted());
  }
  // Runs the tone until the chart shows it, with a marker placed on the chart, and stops.
  void drawTheToneAndStop() {
    start();
    play(1.5);
    ASSERT_GT(drawnPixels(), 1000) << "the picture of the tone";
    tap(screen()->spectrumView);  // the marker in the middle of the plot, and its readings
    play(0.2);
    ASSERT_FALSE(screen()->lblCurrentReadings->isHidden());
    ASSERT_TRUE(plot()->isMarkerVisible());
    stop();
  }
};

// FFT plot of a 1 kHz tone, stopped: SCALE turns the axis logarithmic, and the linear curve (its
// peak at about 40 Hz of the new axis) and its readouts go. The window and the FFT size keep the
// picture, which their axes still describe; running again draws the new axis.
TEST_F(StoppedSettingChangeTest, TheScaleChangedWhileStoppedShowsAnEmptyPlotOfTheNewAxis) {
  defaults()->setObject(Value("fft"), "CURRENT_TYPE");
  defaults()->setObject(Value("linear"), "FFT_SCALE");
  launch({568, 320}, true);
  drawTheToneAndStop();
  const int picture = drawnPixels();
  const std::string peak = peakReadout();
  ASSERT_NEAR(peakReadoutHz(), 1000, 90) << peak;
  tap(screen()->btnGraph);  // the window
  tap(screen()->btnFFT);
  layout();
  EXPECT_EQ(drawnPixels(), picture) << "the window and the FFT size keep the picture";
  EXPECT_EQ(peakReadout(), peak);
  EXPECT_FALSE(screen()->lblCurrentReadings->isHidden());

  tap(screen()->btnOctaves);
  EXPECT_EQ(screen()->spectrumView->scaleType(), 1);
  expectStoppedAndEmpty();

  // Running again draws the tone on the logarithmic axis, and the peak reads it again.
  start();
  play(1.0);
  EXPECT_GT(drawnPixels(), 1000);
  EXPECT_NEAR(peakReadoutHz(), 1000, 90) << peakReadout();
  EXPECT_FALSE(plot()->isMarkerVisible()) << "the marker went with the picture it stood on";
  // And back to the linear axis, stopped once more.
  stop();
  tap(screen()->btnOctaves);
  EXPECT_EQ(screen()->spectrumView->scaleType(), 0);
  expectStoppedAndEmpty();
}

// Octave bands, stopped: 1/3 -> 1/6 -> Full and Bars -> Line each show an empty chart of the new
// setting, not the thirty third-octave bars under another title.
TEST_F(StoppedSettingChangeTest, OctaveBandsAndGraphTypeChangedWhileStoppedShowAnEmptyChart) {
  defaults()->setObject(Value("octave"), "CURRENT_TYPE");
  defaults()->setObject(Value("octave3"), "OCTAVE_TYPE");
  defaults()->setObject(Value("bars"), "OCTAVE_GRAPH_TYPE");
  launch({568, 320}, true);
  const std::tuple<const char*, std::shared_ptr<UIButtonWithTwoLabels>, int, int> changes[] = {
      {"1/6", screen()->btnOctaves, 4, 1}, {"Full", screen()->btnOctaves, 2, 1}, {"Line", screen()->btnGraph, 2, 0}};
  for (const auto& [title, button, scale, graph] : changes) {
    SCOPED_TRACE(title);
    drawTheToneAndStop();
    tap(button);
    EXPECT_EQ(screen()->spectrumView->scaleType(), scale);
    EXPECT_EQ(screen()->spectrumView->graphType(), graph);
    expectStoppedAndEmpty();
  }
}

// Running, a change of scale or graph type keeps the held peaks, the marker and the readouts: the
// next frame draws the new setting.
TEST_F(StoppedSettingChangeTest, RunningTheChartKeepsItsHoldsMarkerAndReadoutsThroughAChange) {
  defaults()->setObject(Value("octave"), "CURRENT_TYPE");
  defaults()->setObject(Value("Hold"), "OCTAVE_HOLD_PEAKS");
  defaults()->setObject(Value("bars"), "OCTAVE_GRAPH_TYPE");
  launch({568, 320}, true);
  start();
  play(1.5);
  tap(screen()->spectrumView);
  play(0.2);
  const std::string peak = peakReadout();
  ASSERT_NE(peak, ViewController::kNoPeakReadout);
  ASSERT_FALSE(plot()->l_maxData.empty());
  for (const auto& button : {screen()->btnGraph, screen()->btnOctaves}) {
    tap(button);
    EXPECT_FALSE(plot()->l_maxData.empty()) << "the held peaks";
    EXPECT_EQ(peakReadout(), peak);
    EXPECT_FALSE(screen()->lblCurrentReadings->isHidden());
    EXPECT_TRUE(plot()->isMarkerVisible());
    play(0.2);
    EXPECT_GT(drawnPixels(), 1000);
  }
}

TEST_F(SideMenuScreensTest, AMenuThatLoadsWithoutAStoredModeSelectsTheSpectrograph) {
  launch();
  for (const auto& [stored, expected] : std::vector<std::pair<std::optional<std::string>, std::string>>{
           {std::nullopt, "Spectrograph"}, {"fft", "FFT Plot"}, {"octave", "Octave RTA"}, {"other", "Spectrograph"}}) {
    if (stored) defaults()->setObject(Value(*stored), "CURRENT_TYPE");
    else defaults()->removeObjectForKey("CURRENT_TYPE");
    auto storyboard = UIStoryboard::storyboardWithName("Main");
    auto e = std::dynamic_pointer_cast<RightMenuVC>(storyboard->instantiateViewControllerWithIdentifier("rightMenu"));
    ASSERT_TRUE(e);
    e->loadViewIfNeeded();
    ASSERT_TRUE(e->lastSelectedButton);
    EXPECT_EQ(*e->lastSelectedButton->currentTitle(), expected);
    EXPECT_TRUE(e->lastSelectedButton->isSelected());
  }
}

TEST(HelpPages, AMissingHelpPageLeavesTheHelpScreenEmptyAndIsLogged) {
  testsupport::useFreshApplicationHome();
  testsupport::ManualClock clock;
  // A bundle whose strings name a page it does not have.
  std::filesystem::path bundle = std::filesystem::path(std::getenv("SPECTRUM_ANALYSER_HOME")) / "bundle";
  std::filesystem::create_directories(bundle / "en.lproj");
  std::ofstream(bundle / "en.lproj" / "Localizable.strings") << "\"helppage\" = \"missing.html\";\n"
                                                               << "\"dbchartpage\" = \"not-html.html\";\n";
  std::ofstream(bundle / "not-html.html", std::ios::binary) << std::string("\x89PNG\r\n\x1a\n\0\0<<p>>", 14);
  NSBundle::setMainBundlePathForTesting(bundle.string());
  registerAppStoryboards();
  testsupport::LogCapture log;
  auto help = std::dynamic_pointer_cast<HelpVC>(UIStoryboard::storyboardWithName("HelpVC")->instantiateInitialViewController());
  ASSERT_TRUE(help);
  help->loadViewIfNeeded();
  EXPECT_TRUE(testsupport::waitFor([&] { return !help->webView->isLoading(); }));
  EXPECT_FALSE(help->webView->hasPage());
  EXPECT_TRUE(log.contains("UIWebView: cannot load missing.html"));
  // A page that is not HTML at all is shown as far as the engine makes sense of it.
  auto chart = std::dynamic_pointer_cast<dbaHelpVC>(UIStoryboard::storyboardWithName("dbaHelpVC")->instantiateInitialViewController());
  chart->loadViewIfNeeded();
  EXPECT_TRUE(testsupport::waitFor([&] { return !chart->web->isLoading(); }));
  EXPECT_TRUE(chart->web->hasPage());
  NSBundle::setMainBundlePathForTesting("");
}

TEST(StorePage, WithoutAStoreOnThisPlatformItIsNotAvailableAndShowsNothing) {
  auto store = AEProductController::sharedInstance();
  EXPECT_EQ(store, AEProductController::sharedInstance());
  EXPECT_FALSE(AEProductController::isAvailable());
  testsupport::LogCapture log;
  store->setProductAppStoreId(Value(int64_t(123456789)));
  EXPECT_EQ(*store->productId(), Value(int64_t(123456789)));
  store->showAppStore();
  EXPECT_TRUE(log.lines().empty());
  // A platform that has the class answers yes.
  NSRegisterClass({SKStoreProductViewControllerClassName, {}});
  EXPECT_TRUE(AEProductController::isAvailable());
  NSUnregisterClass(SKStoreProductViewControllerClassName);
  EXPECT_FALSE(AEProductController::isAvailable());
}

TEST_F(SideMenuScreensTest, TheDelegatesStoreOperationSetsTheProductAndShowsNothing) {
  launch();
  delegate->presentAppStoreForID("987");
  EXPECT_EQ(*AEProductController::sharedInstance()->productId(), Value("987"));
  EXPECT_EQ(screen()->presentedViewController(), nullptr);
}

}  // namespace
