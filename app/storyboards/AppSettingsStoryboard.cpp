// The layout of the profile list and the tuning screen, in points.
//
// The profile list: the table fills the screen under the navigation bar; the "+" of the bar adds a
// profile. A row (43 points): the input's logo (24 points) 16 from the left, the name 12 after it,
// and the edit button (48 points wide) at the right end.
//
// The tuning screen (568 × 276 under the bar; it follows other sizes):
//   - a header: the profile's name and the sample rate at the left; at the right the delete and
//     start/stop buttons and the dB-A and dB-C readouts (the dB-C box rides on the dB-A box, so
//     both show while the signal is on);
//   - the tuning view below it, to the bottom less lcBottomConstraint: the gain column at the left
//     and the band sliders;
//   - "Save" in the navigation bar.
#include "app/storyboards/AppSettingsStoryboard.h"

#include "app/storyboards/StoryboardSupport.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIColorNamed.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStoryboard.h"
#include "profiles/InputProfilesTableViewController.h"
#include "profiles/MicProfileSetupViewController.h"
#include "profiles/ProfilesSupport.h"

namespace {

using storyboard::constrained;

using C = NSLayoutConstraint;

constexpr double kMargin = 16;
constexpr double kReadoutWidth = 62;
constexpr double kReadoutHeight = 40;
constexpr double kRoundButton = 40;

std::shared_ptr<UILabel> label(const char* font, double size, UIColorRef color, const std::string& text = "") {
  auto l = std::make_shared<UILabel>();
  l->setFont(UIFont::fontWithName(font, size));
  l->setTextColor(std::move(color));
  if (!text.empty()) l->setText(text);
  return l;
}

// A readout box: the number in its lower part, a caption over it.
class ReadoutLabel : public UILabel {
 public:
  void drawTextInRect(const CGRect& rect) override {
    UILabel::drawTextInRect(CGRectMake(rect.origin.x, rect.origin.y + 10, rect.size.width, rect.size.height - 10));
  }
};

std::shared_ptr<UILabel> readout(const char* caption) {
  auto box = std::make_shared<ReadoutLabel>();
  box->setFont(UIFont::fontWithName("Avenir-Heavy", 17));
  box->setTextColor(tarn::namedColor("gaugesLightGray"));
  box->setTextAlignment(NSTextAlignment::Center);
  box->setBackgroundColor(tarn::namedColor("DarkBlackColor"));
  box->layer()->setCornerRadius(8);
  box->setText("--");
  auto title = label("Avenir-Medium", 9, tarn::namedColor("minorTextColor"), caption);
  title->setTextAlignment(NSTextAlignment::Center);
  title->setFrame(CGRectMake(0, 3, kReadoutWidth, 12));
  box->addSubview(title);
  return box;
}

// ---- The profile list ----

std::shared_ptr<UITableViewCell> makeProfileCell() {
  auto cell = std::make_shared<InputProfileTableViewCell>();
  cell->setBackgroundColor(tarn::namedColor("BackgroundColor_Highlighted"));
  cell->setSelectedBackgroundColor(tarn::namedColor("DarkBackgroundColor"));
  cell->setSeparatorColor(tarn::namedColor("DarkBlackColor"));
  cell->setSeparatorInset(52);
  auto content = cell->contentView();
  auto logo = constrained(content, std::make_shared<UIImageView>());
  logo->setContentMode(UIViewContentMode::ScaleAspectFit);
  auto title = constrained(content, label("GothamPro", 15, UIColor::whiteColor()));
  auto edit = constrained(content, std::make_shared<UIButton>());
  if (auto image = UIImage::imageNamed("editIcon")) {
    edit->setImage(image->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate), UIControlStateNormal);
  }
  edit->setTintColor(tarn::namedColor("minorTextColor"));
  edit->addTarget(cell, &InputProfileTableViewCell::editProfileAction, UIControlEventTouchUpInside);
  C::activateConstraints({
      logo->leadingAnchor().constraintEqualToAnchor(content->leadingAnchor(), kMargin),
      logo->centerYAnchor().constraintEqualToAnchor(content->centerYAnchor()),
      logo->widthAnchor().constraintEqualToConstant(24),
      logo->heightAnchor().constraintEqualToConstant(24),
      edit->trailingAnchor().constraintEqualToAnchor(content->trailingAnchor()),
      edit->topAnchor().constraintEqualToAnchor(content->topAnchor()),
      edit->bottomAnchor().constraintEqualToAnchor(content->bottomAnchor()),
      edit->widthAnchor().constraintEqualToConstant(48),
      title->leadingAnchor().constraintEqualToAnchor(logo->trailingAnchor(), 12),
      title->trailingAnchor().constraintEqualToAnchor(edit->leadingAnchor(), -4),
      title->centerYAnchor().constraintEqualToAnchor(content->centerYAnchor()),
      title->heightAnchor().constraintEqualToConstant(22),
  });
  cell->lblTitle = title;
  cell->btnEdit = edit;
  cell->ivLogo = logo;
  cell->awakeFromNib();
  return cell;
}

void buildProfileList(UIViewController& controller) {
  auto& vc = dynamic_cast<InputProfilesTableViewController&>(controller);
  auto vcRef = std::static_pointer_cast<InputProfilesTableViewController>(vc.shared_from_this());
  auto root = std::make_shared<UIView>(UIScreen::mainScreen().bounds());
  root->setBackgroundColor(tarn::namedColor("DarkBackgroundColor"));
  vc.setView(root);
  auto table = std::make_shared<UITableView>(root->bounds());
  table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  table->setBackgroundColor(tarn::namedColor("DarkBackgroundColor"));
  table->registerCellFactory(InputProfileTableViewCell::kReuseIdentifier, makeProfileCell);
  root->addSubview(table);
  vc.tableView = table;
  std::weak_ptr<InputProfilesTableViewController> weak = vcRef;
  vc.navigationItem()->setRightBarButtonItem(
      UIBarButtonItem::itemWithSystemItem(UIBarButtonSystemItem::Add, [weak](const std::shared_ptr<UIBarButtonItem>& sender) {
        if (auto screen = weak.lock()) screen->addNewProfile(sender);
      }));
}

// ---- The tuning screen ----

void buildTuningScreen(UIViewController& controller) {
  auto& vc = dynamic_cast<MicProfileSetupViewController&>(controller);
  auto vcRef = std::static_pointer_cast<MicProfileSetupViewController>(vc.shared_from_this());
  auto root = std::make_shared<UIView>(UIScreen::mainScreen().bounds());
  root->setBackgroundColor(tarn::namedColor("DarkBackgroundColor"));
  vc.setView(root);

  auto name = constrained(root, label("GothamPro-Medium", 17, UIColor::whiteColor()));
  vc.lblCurrentInput = name;
  auto rateCaption = constrained(root, label("Avenir-Medium", 12, tarn::namedColor("minorTextColor"),
                                             tarn::localised("microphone_setup.sample_rate")));
  auto rate = constrained(root, label("Avenir-Heavy", 12, tarn::namedColor("gaugesLightGray")));
  vc.lblSampleRate = rate;
  auto rateUnit = constrained(root, label("Avenir-Medium", 12, tarn::namedColor("minorTextColor"), "Hz"));

  auto start = constrained(root, std::make_shared<UIButton>());
  start->setImage(UIImage::imageNamed("btnSignalStart"), UIControlStateNormal);
  start->setImage(UIImage::imageNamed("btnSignalStop"), UIControlStateSelected);
  start->addTarget(vcRef, &MicProfileSetupViewController::readSignalAction, UIControlEventTouchUpInside);
  vc.btnStartSignal = start;
  auto remove = constrained(root, std::make_shared<UIButton>());
  if (auto image = UIImage::imageNamed("trashIcon")) {
    remove->setImage(image->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate), UIControlStateNormal);
  }
  remove->setTintColor(tarn::namedColor("minorTextColor"));
  remove->addTarget(vcRef, &MicProfileSetupViewController::removeProfile, UIControlEventTouchUpInside);

  // dB-A, with the dB-C box riding on it to its right.
  auto dba = constrained(root, readout("dB-A"));
  vc.lblDba = dba;
  auto dbc = readout("dB-C");
  dbc->setFrame(CGRectMake(kReadoutWidth + 6, 0, kReadoutWidth, kReadoutHeight));
  dba->addSubview(dbc);
  vc.lblDbc = dbc;

  auto bands = constrained(root, std::make_shared<BandsTuneView>());
  vc.bandsView = bands;

  // The screen shortens these for the 1136-pixel class only. The band sliders take what is left
  // under the header and their labels, so a screen no higher than 320 points needs the short
  // spacings whatever its class (480 x 320 points is 960 pixels): else the thumbs barely move.
  const bool lowScreen = UIScreen::mainScreen().bounds().size.height <= 320;
  vc.lcTopConstraint = name->topAnchor().constraintEqualToAnchor(root->topAnchor(), lowScreen ? 8 : 20);
  vc.lcButtonTopConstraint = start->topAnchor().constraintEqualToAnchor(root->topAnchor(), lowScreen ? 16 : 30);
  vc.lcBottomConstraint = root->bottomAnchor().constraintEqualToAnchor(bands->bottomAnchor(), lowScreen ? 16 : 30);
  C::activateConstraints({
      vc.lcTopConstraint, vc.lcButtonTopConstraint, vc.lcBottomConstraint,
      name->leadingAnchor().constraintEqualToAnchor(root->leadingAnchor(), kMargin),
      name->heightAnchor().constraintEqualToConstant(22),
      name->trailingAnchor().constraintLessThanOrEqualToAnchor(remove->leadingAnchor(), -8),
      rateCaption->leadingAnchor().constraintEqualToAnchor(name->leadingAnchor()),
      rateCaption->topAnchor().constraintEqualToAnchor(name->bottomAnchor(), 4),
      rate->leadingAnchor().constraintEqualToAnchor(rateCaption->trailingAnchor(), 6),
      rate->centerYAnchor().constraintEqualToAnchor(rateCaption->centerYAnchor()),
      rate->widthAnchor().constraintGreaterThanOrEqualToConstant(44),
      rateUnit->leadingAnchor().constraintEqualToAnchor(rate->trailingAnchor(), 3),
      rateUnit->centerYAnchor().constraintEqualToAnchor(rateCaption->centerYAnchor()),

      dba->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor(), -(kMargin + kReadoutWidth + 6)),
      dba->centerYAnchor().constraintEqualToAnchor(start->centerYAnchor()),
      dba->widthAnchor().constraintEqualToConstant(kReadoutWidth),
      dba->heightAnchor().constraintEqualToConstant(kReadoutHeight),
      start->trailingAnchor().constraintEqualToAnchor(dba->leadingAnchor(), -12),
      start->widthAnchor().constraintEqualToConstant(kRoundButton),
      start->heightAnchor().constraintEqualToConstant(kRoundButton),
      remove->trailingAnchor().constraintEqualToAnchor(start->leadingAnchor(), -8),
      remove->centerYAnchor().constraintEqualToAnchor(start->centerYAnchor()),
      remove->widthAnchor().constraintEqualToConstant(kRoundButton),
      remove->heightAnchor().constraintEqualToConstant(kRoundButton),

      bands->topAnchor().constraintEqualToAnchor(start->bottomAnchor(), 10),
      bands->leadingAnchor().constraintEqualToAnchor(root->leadingAnchor()),
      bands->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor()),
  });
  std::weak_ptr<MicProfileSetupViewController> weak = vcRef;
  vc.navigationItem()->setRightBarButtonItem(
      UIBarButtonItem::itemWithTitle(tarn::localised("popup.save"), [weak](const std::shared_ptr<UIBarButtonItem>&) {
        if (auto screen = weak.lock()) screen->saveProfile();
      }));
}

UIStoryboardDefinition appSettingsStoryboard() {
  UIStoryboardDefinition d;
  d.scenes["inputProfilesTable"].makeController = [](UIStoryboard&) {
    return std::make_shared<InputProfilesTableViewController>();
  };
  d.scenes["inputProfilesTable"].buildView = buildProfileList;
  d.scenes["microphoneProfileSetup"].makeController = [](UIStoryboard&) {
    return std::make_shared<MicProfileSetupViewController>();
  };
  d.scenes["microphoneProfileSetup"].buildView = buildTuningScreen;
  return d;
}

}  // namespace

void registerAppSettingsStoryboard() { UIStoryboard::registerStoryboard(kAppSettingsStoryboardName, appSettingsStoryboard); }
