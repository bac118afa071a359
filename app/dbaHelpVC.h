#pragma once
// The dB-A help: the chart of sound levels (the bundle page named by the localised string
// "dbchartpage") in a web view, presented over the analyser screen by its dB-A help button and
// dismissed by its close button. A new one is made each time it is asked for. Main thread only.
#include <memory>

#include "platform/uikit/UIButton.h"
#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIWebView.h"

class dbaHelpVC : public UIViewController {
 public:
  // ---- Outlets ----
  std::shared_ptr<UIWebView> web;

  void viewDidLoad() override;
  void closeView(const std::shared_ptr<UIButton>& sender);
};
