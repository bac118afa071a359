// The readouts the chart's reports produce, and note names.
#include <cfloat>
#include <cmath>
#include <limits>

#include "tests/app/AppHarness.h"

namespace {

Value record(double f, double v) { return Value{{"frequency", f}, {"volume", v}}; }

class ReadoutsTest : public AppHarness {
 protected:
  void SetUp() override {
    AppHarness::SetUp();
    launch();
    s = screen();
  }
  std::string text(const std::shared_ptr<UILabel>& label) { return label->text().value_or("<none>"); }
  std::shared_ptr<ViewController> s;
};

TEST_F(ReadoutsTest, DbAFormulaTruncatesTowardZero) {
  EXPECT_EQ(ViewController::dbaReadout(-60.4f, -50), 61);
  // -13 × 0.0625 truncates to 0, not -1.
  EXPECT_EQ(ViewController::dbaReadout(-120.0f, -160), -9);
  EXPECT_EQ(ViewController::dbaReadout(-0.9f, 0), 0 + 6 + 7 + 110);
}

TEST_F(ReadoutsTest, NonFiniteLevelsReadAsTheFloorOrZero) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(ViewController::dbaReadout(-inf, 0), ViewController::dbaReadout(-128, 0));
  EXPECT_EQ(ViewController::dbaReadout(std::nanf(""), 0), ViewController::dbaReadout(-128, 0));
  EXPECT_EQ(ViewController::dbaReadout(inf, 0), ViewController::dbaReadout(0, 0));
  // Far outside any level: still a defined number, not a truncation out of range.
  (void)ViewController::dbaReadout(FLT_MAX, std::numeric_limits<int>::min());
  s->dbaValue(-inf);
  EXPECT_EQ(text(s->lblFloatingRight), std::to_string(ViewController::dbaReadout(-128, 0)) + " dB-A");
  s->dbaValue(-60.4f);  // no recorder: P is 0
  EXPECT_EQ(text(s->lblFloatingRight), "68 dB-A");
}

TEST_F(ReadoutsTest, PeakLabelPadsTheFrequencyAndRoundsBoth) {
  s->maximusArray({record(86.13, -42.6)}, {}, {});
  EXPECT_EQ(text(s->lblFloatingLeft), "Peak: 0086Hz, -43 dB");
  s->maximusArray({record(12345.6, -30)}, {}, {});
  EXPECT_EQ(text(s->lblFloatingLeft), "Peak: 12346Hz, -30 dB");
  s->maximusArray({}, {}, {});  // nothing: unchanged
  EXPECT_EQ(text(s->lblFloatingLeft), "Peak: 12346Hz, -30 dB");
  s->maximusArray({record(1000, -std::numeric_limits<double>::infinity())}, {}, {});
  EXPECT_EQ(text(s->lblFloatingLeft), "Peak: 1000Hz, -128 dB");
  s->maximusArray({record(std::nan(""), std::nan(""))}, {}, {});
  EXPECT_EQ(text(s->lblFloatingLeft), "Peak: 0000Hz, -128 dB");
  s->maximusArray({Value{{"frequency", "loud"}, {"volume", 1}}}, {}, {});
  EXPECT_EQ(text(s->lblFloatingLeft), "Peak: 0");
}

TEST_F(ReadoutsTest, TouchShowsTheReadingAndTurnsTheAimOff) {
  measureAFrame();
  ASSERT_TRUE(s->btnAim->isSelected());
  s->onTouch({record(440.9, -20.7), record(1, 1)});
  EXPECT_FALSE(s->lblCurrentReadings->isHidden());
  EXPECT_EQ(text(s->lblCurrentReadings), "440 Hz, -20 dB");
  EXPECT_FALSE(s->btnAim->isSelected());
  EXPECT_FALSE(s->spectrumView->spectrumView()->needPeakMarker);
  s->onTouch({record(100, -std::numeric_limits<double>::infinity())});
  EXPECT_EQ(text(s->lblCurrentReadings), "100 Hz, -128 dB");
}

TEST_F(ReadoutsTest, SelectedValuesShowMaxAndMinOnlyWhileAReadingIsShown) {
  measureAFrame();
  s->selectedValues(std::vector<Value>{record(50, -10), record(50, -5), record(50, -70)});
  EXPECT_TRUE(s->lblMaxMin->isHidden());  // the touch readout is hidden: nothing changes
  EXPECT_EQ(s->lblCurrentReadings->text(), std::nullopt);

  s->onTouch({record(50, -10)});
  s->selectedValues(std::vector<Value>{record(60, -11), record(60, -5), record(60, -70)});
  EXPECT_EQ(text(s->lblCurrentReadings), "60 Hz, -11 dB");
  EXPECT_EQ(text(s->lblMaxMin), "Min: -70 dB, Max: -5 dB");
  EXPECT_FALSE(s->lblMaxMin->isHidden());
  s->selectedValues(std::vector<Value>{record(60, -11), record(60, -6)});
  EXPECT_EQ(text(s->lblMaxMin), "Max: -6 dB");
  s->selectedValues(std::vector<Value>{record(60, -11)});
  EXPECT_TRUE(s->lblMaxMin->isHidden());
  s->selectedValues(std::nullopt);
  EXPECT_TRUE(s->lblMaxMin->isHidden());
  s->onRemoveMarker();
  EXPECT_TRUE(s->lblCurrentReadings->isHidden());
}

TEST_F(ReadoutsTest, TheLevelReadoutFollowsTheChartsLeftPadding) {
  s->currentLeftPaddingChanged(60);
  EXPECT_EQ(s->lcVolumeBackground->constant(), 49);
  layout();
  CGRect dba = s->lblFloatingRight->convertRectToView(s->lblFloatingRight->bounds(), s->spectrumView.get());
  EXPECT_EQ(dba.origin.x, 49);
}

TEST_F(ReadoutsTest, TheTouchReadoutsStayClearOfTheLevelAxisLabels) {
  for (float padding : {60.f, 75.f}) {
    s->currentLeftPaddingChanged(padding);
    s->onTouch({record(440, -20)});
    s->selectedValues(std::vector<Value>{record(440, -20), record(440, -5)});
    layout();
    for (const auto& label : {std::static_pointer_cast<UILabel>(s->lblCurrentReadings),
                              std::static_pointer_cast<UILabel>(s->lblMaxMin)}) {
      ASSERT_FALSE(label->isHidden());
      CGRect frame = label->convertRectToView(label->bounds(), s->spectrumView.get());
      EXPECT_GE(frame.origin.x, padding) << "the readout covers the level labels left of the plot";
      EXPECT_LE(frame.origin.x + frame.size.width, s->spectrumView->bounds().size.width);
    }
  }
}

TEST(NoteNames, NearestNoteWithTheFiftyCentEdge) {
  EXPECT_EQ(ViewController::frequencyToNote(440), "A4");
  EXPECT_EQ(ViewController::frequencyToNote(452.9f), "A4");
  EXPECT_EQ(ViewController::frequencyToNote(453.2f), "A#4");
  EXPECT_EQ(ViewController::frequencyToNote(1000), "B5");
  EXPECT_EQ(ViewController::frequencyToNote(100), "G2");
  EXPECT_EQ(ViewController::frequencyToNote(16.35f), "C0");
  EXPECT_EQ(ViewController::frequencyToNote(7902.13f), "B8");
  EXPECT_EQ(ViewController::frequencyToNote(15804.3f), "B9");
}

TEST(NoteNames, FrequenciesOutsideTheTableNameNothingAndAlwaysEnd) {
  for (float f : {0.0f, -1.0f, -440.0f, 1e-40f /* subnormal */, std::numeric_limits<float>::denorm_min(),
                  std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), std::nanf(""),
                  15.0f, 17000.0f, 1e30f, FLT_MAX, FLT_MIN}) {
    EXPECT_EQ(ViewController::frequencyToNote(f), "") << f;
  }
}

}  // namespace
