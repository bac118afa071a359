#pragma once
// Launching the analyser application in-process for tests: a fresh application state, the screen
// of a size, the test audio input and no GL (the chart analyses and reports without drawing unless
// a test asks for GL), then the launch exactly as the entry point does it.
#include <gtest/gtest.h>

#include <memory>

#include "app/AppDelegate.h"
#include "app/ViewController.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/foundation/NSUserDefaults.h"

class AppHarness : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Launches on a screen of the size (points as held at launch).
  void launch(CGSize screen = {568, 320}, bool withGL = false);
  // Ends the process's application as the platform would, and forgets every process-wide state,
  // so that the next launch is a new process's (the user defaults on disk stay).
  void relaunchState();

  std::shared_ptr<ViewController> screen() const;
  std::shared_ptr<NSUserDefaults> defaults() const { return NSUserDefaults::standardUserDefaults(); }
  // Taps the centre of a view with the mouse (press and release through the window).
  void tap(const std::shared_ptr<UIView>& view);
  // Runs one layout pass of the window.
  void layout();
  // The chart takes a frame of the test input, as a running chart does: the levels it reports are
  // current from then on (the main run loop is stepped on a manual clock meanwhile).
  void measureAFrame();

  std::shared_ptr<AppDelegate> delegate;
  std::shared_ptr<TestAudioInput> input;
};
