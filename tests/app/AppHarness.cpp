#include "tests/app/AppHarness.h"

#include "app/AnalyserSettings.h"
#include "app/storyboards/MainStoryboard.h"
#include "app/vlxEventTracer.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/uikit/UIDevice.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"
#include "sdk/core/ZAVAda.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestHome.h"

void AppHarness::SetUp() {
  // Each test its own home, also when the cases of this program run in one process.
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  registerAppStoryboards();
  AppDelegate::registerClass();
  input = TestAudioInput::create();
  AVAudioSession::sharedInstance().setInputBackend(input);
}

void AppHarness::TearDown() {
  relaunchState();
  AVAudioSession::sharedInstance().setInputBackend(nullptr);
  EAGLContext::setAvailableForTesting(true);
}

void AppHarness::relaunchState() {
  auto& app = UIApplication::sharedApplication();
  if (app.delegate()) app.terminate();
  if (auto s = screen()) {
    s->spectrumView->stopAnimation();
    s->spectrumView->stopDataProvide();
  }
  app.resetForTesting();
  delegate.reset();
  NSUserDefaults::resetForTesting();
  vlxEventTracer::resetForTesting();
  settings::resetLaunchDefaultForTesting();
  ZAVAda::resetForTesting();
}

void AppHarness::launch(CGSize size, bool withGL) {
  EAGLContext::setAvailableForTesting(withGL);
  UIScreen::mainScreen().configure(size, 2);
  UIDevice::currentDevice().resetForTesting();
  auto& app = UIApplication::sharedApplication();
  app.resetForTesting();
  delegate = std::make_shared<AppDelegate>();
  app.setDelegate(delegate);
  ASSERT_TRUE(app.launchWithMainStoryboard());
  layout();
}

std::shared_ptr<ViewController> AppHarness::screen() const {
  return delegate ? std::dynamic_pointer_cast<ViewController>(delegate->analyzerVC()) : nullptr;
}

void AppHarness::measureAFrame() {
  auto s = screen();
  ASSERT_TRUE(s);
  const int32_t frameSize = s->spectrumView->mathParams().frameSize;
  // Two windows at a time, as a capture delivers them: the chart's data timer takes frames too, so
  // each of the two timers finds one. Time is stepped, not waited: on a loaded machine the timers
  // still come in their order.
  testsupport::ManualClock clock;
  const std::vector<float> block(size_t(std::max(frameSize, 512)), 0.1f);
  for (int i = 0; i < 5 && !s->spectrumView->hasCurrentLevels(); ++i) {
    input->pushSamples(block);
    input->pushSamples(block);
    clock.step(0.1);
  }
  ASSERT_TRUE(s->spectrumView->hasCurrentLevels());
}

void AppHarness::layout() {
  if (delegate && delegate->window()) delegate->window()->layoutPass();
}

void AppHarness::tap(const std::shared_ptr<UIView>& view) {
  ASSERT_TRUE(view);
  layout();
  auto window = delegate->window();
  CGRect f = view->convertRectToView(view->bounds(), nullptr);
  CGPoint centre{CGRectGetMidX(f), CGRectGetMidY(f)};
  window->touchDown(centre);
  window->touchUp(centre);
}
