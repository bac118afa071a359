#pragma once
// The side menu, shown by the side-menu container at the right: three entries switch the analyser
// screen between its modes and a fourth opens the help screen. The entry of the current mode is
// shown selected when the menu loads; afterwards the selection follows the taps. A tap puts the
// chosen screen in front (the analyser inside its navigation controller, or the help screen)
// through the container's push, which slides the menu shut. Made by the main storyboard, which
// lays it out and connects the outlets. Main thread only.
#include <memory>

#include "platform/uikit/UIButton.h"
#include "platform/uikit/UIViewController.h"

class RightMenuVC : public UIViewController {
 public:
  // ---- Outlets ----
  std::shared_ptr<UIButton> btnFFT;
  std::shared_ptr<UIButton> btnOctave;
  std::shared_ptr<UIButton> btnHelp;
  std::weak_ptr<UIButton> btnSpectrograph;
  std::shared_ptr<UIButton> lastSelectedButton;

  void viewDidLoad() override;

  // ---- Actions (the tapped button) ----
  void octaveTap(const std::shared_ptr<UIButton>& sender);
  void fftPlotTap(const std::shared_ptr<UIButton>& sender);
  void spectrographTap(const std::shared_ptr<UIButton>& sender);
  void helpTap(const std::shared_ptr<UIButton>& sender);

 private:
  enum class Entry { Octave, FFT, Spectrograph, Help };
  void select(const std::shared_ptr<UIButton>& button);
  void show(const std::shared_ptr<UIButton>& sender, Entry entry);
};
