#pragma once
// What a chart shows over its plot while its engine has no audio input: the plot dimmed, "No audio
// input" in the middle and the reason under it. The chart container keeps it over the spectrum
// view and shows it only while the engine reports a problem; the plot under it keeps its last
// picture, so the dimming tells that nothing new is coming.
#include <string>

#include "platform/graphics/NSStringDrawing.h"
#include "platform/uikit/UIView.h"

class NoAudioInputView : public UIView {
 public:
  static constexpr const char* kTitle = "No audio input";

  explicit NoAudioInputView(const CGRect& frame);

  const std::string& reason() const { return reason_; }
  void setReason(const std::string& reason);

  void drawRect(const CGRect& rect) override;

  // Where the two lines go in a view of this size (tests read it; drawRect draws exactly these),
  // measured at the view's contentScaleFactor, the scale its backing is drawn at.
  struct Line {
    std::string text;
    CGPoint origin;  // top-left corner of the line box
    CGSize size;
  };
  Line titleLine() const;
  Line reasonLine() const;

 private:
  NSTextAttributes titleAttributes() const;
  NSTextAttributes reasonAttributes() const;
  std::string reason_;
};
