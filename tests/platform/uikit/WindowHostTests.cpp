// The desktop window shows the frames the window composes, read back from an X server of the
// test's own: composed straight into the window's surface while the frame is opaque, copied there
// otherwise, through changes, resizes and switches between the two. The keyboard reaches the
// field being edited and the alert in front.
#include <gtest/gtest.h>

// Before X11's headers, whose macros (Always, None) would replace names of the UI kit's.
#include "platform/uikit/UIAlertController.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/uikit/SDLWindowHost.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/ManualClock.h"
#include "tests/support/PrivateXServer.h"

namespace {

using testsupport::PrivateXServer;

// A window being resized may answer a read of its old size with an error: the read is tried again.
int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

class WindowHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (x_.display().empty()) GTEST_SKIP() << "no Xvfb to stand for a desktop display";
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
    setenv("DISPLAY", x_.display().c_str(), 1);
    std::string why;
    ASSERT_TRUE(SDLWindowHost::openDisplay(&why)) << why;
    looker_ = XOpenDisplay(x_.display().c_str());
    ASSERT_NE(looker_, nullptr);
  }
  void TearDown() override {
    host_.close();
    if (looker_) XCloseDisplay(looker_);
    SDLWindowHost::closeDisplay();
    unsetenv("DISPLAY");
  }

  // Rows of the desktop window that differ from a whole render of the window (the frame's colour,
  // its alpha aside); -1 while no window of the frame's size is shown.
  long differingRows() {
    auto whole = UICompositor::render(window_);
    if (!whole) return -1;
    const int w = whole->width(), h = whole->height();
    Window root = DefaultRootWindow(looker_), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(looker_, root, &root, &parent, &children, &count)) return -1;
    Window shown = 0;
    for (unsigned i = 0; i < count; ++i) {
      XWindowAttributes a;
      if (XGetWindowAttributes(looker_, children[i], &a) && a.map_state == IsViewable && a.width == w && a.height == h)
        shown = children[i];
    }
    if (children) XFree(children);
    if (!shown) return -1;
    XErrorHandler previous = XSetErrorHandler(ignoreXErrors);
    XImage* image = XGetImage(looker_, shown, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap);
    XSync(looker_, False);
    XSetErrorHandler(previous);
    if (!image) return -1;
    cairo_surface_flush(whole->surface());
    const auto* data = cairo_image_surface_get_data(whole->surface());
    const int stride = cairo_image_surface_get_stride(whole->surface());
    long differing = 0;
    for (int y = 0; y < h; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
      bool same = true;
      for (int x = 0; x < w && same; ++x) same = (XGetPixel(image, x, y) & 0xffffffu) == (row[x] & 0xffffffu);
      differing += !same;
    }
    XDestroyImage(image);
    return differing;
  }
  // Presents until the desktop window shows the window's frame; the rows that differ in the end.
  long presentUntilShown() {
    long differing = -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      host_.pumpEvents();
      host_.present();
      XSync(looker_, False);
      differing = differingRows();
      if (differing == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return differing;
  }

  PrivateXServer x_;
  Display* looker_ = nullptr;
  SDLWindowHost host_;
  std::shared_ptr<UIWindow> window_;
};

UIViewRef coloured(const CGRect& frame, double r, double g, double b, double a) {
  auto view = std::make_shared<UIView>(frame);
  view->setBackgroundColor(UIColor::colorWithRed(r, g, b, a));
  return view;
}

TEST_F(WindowHostTest, TheDesktopWindowShowsEveryFrameComposedIntoItsSurfaceOrCopiedThere) {
  window_ = std::make_shared<UIWindow>(CGRectMake(0, 0, 101, 61));
  auto back = coloured(CGRectMake(0, 0, 101, 61), 0.2, 0.3, 0.4, 1);  // opaque over all: composed in place
  auto half = coloured(CGRectMake(10, 10, 30, 20), 1, 0, 0, 0.5);
  auto solid = coloured(CGRectMake(50, 20, 31, 29), 0, 0, 1, 1);
  window_->addSubview(back);
  back->addSubview(half);
  back->addSubview(solid);
  std::string error;
  ASSERT_TRUE(host_.open(window_, "window host test", &error)) << error;
  EXPECT_EQ(presentUntilShown(), 0);
  half->setFrame(CGRectMake(12.5, 11, 33, 21));
  EXPECT_EQ(presentUntilShown(), 0);
  solid->setBackgroundColor(UIColor::colorWithRed(0, 0.7, 0.2, 1));
  EXPECT_EQ(presentUntilShown(), 0);
  // Resized: SDL makes the surface anew and the frame is composed whole into it.
  window_->setFrame(CGRectMake(0, 0, 71, 93));
  back->setFrame(CGRectMake(0, 0, 71, 93));
  EXPECT_EQ(presentUntilShown(), 0);
  half->setFrame(CGRectMake(5, 40, 33, 21));
  EXPECT_EQ(presentUntilShown(), 0);
  // Opaque everywhere, but from two views: copied.
  back->setFrame(CGRectMake(0, 0, 71, 50));
  window_->insertSubview(coloured(CGRectMake(0, 50, 71, 43), 0.5, 0.5, 0.1, 1), 0);
  EXPECT_EQ(presentUntilShown(), 0);
  half->setFrame(CGRectMake(6, 30, 33, 21));
  EXPECT_EQ(presentUntilShown(), 0);
  // Over all of it again, and resized back.
  back->setFrame(CGRectMake(0, 0, 71, 93));
  EXPECT_EQ(presentUntilShown(), 0);
  window_->setFrame(CGRectMake(0, 0, 101, 61));
  back->setFrame(CGRectMake(0, 0, 101, 61));
  EXPECT_EQ(presentUntilShown(), 0);
  solid->setFrame(CGRectMake(60, 2, 31, 29));
  EXPECT_EQ(presentUntilShown(), 0);
  // Translucent where nothing opaque lies under it: each pixel shows as it would over black, its
  // premultiplied colour, not darkened a second time by its alpha.
  back->setBackgroundColor(UIColor::colorWithRed(0.2, 0.9, 0.6, 0.5));
  EXPECT_EQ(presentUntilShown(), 0);
}

// The desktop keyboard: typed text and the editing keys reach the field being edited; Return and
// Escape reach the alert in front, once per press and not again while the key is held.
TEST_F(WindowHostTest, TheKeyboardEditsTheFieldBeingEditedAndAnswersTheAlertInFront) {
  testsupport::ManualClock clock;
  window_ = std::make_shared<UIWindow>(CGRectMake(0, 0, 200, 60));
  auto root = std::make_shared<UIViewController>();
  window_->setRootViewController(root);
  window_->makeKeyAndVisible();
  auto field = std::make_shared<UITextField>(CGRectMake(10, 10, 180, 30));
  root->view()->addSubview(field);
  std::string error;
  ASSERT_TRUE(host_.open(window_, "window host keys", &error)) << error;
  ASSERT_TRUE(field->becomeFirstResponder());
  auto key = [](SDL_Keycode code, bool repeat = false) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.sym = code;
    ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
  };
  auto text = [](const char* typed) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    std::snprintf(e.text.text, sizeof e.text.text, "%s", typed);
    ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
  };
  text("Mirophone");
  key(SDLK_HOME);
  key(SDLK_RIGHT);
  key(SDLK_RIGHT, true);  // held: moves again
  text("c");
  key(SDLK_END);
  key(SDLK_LEFT);
  key(SDLK_DELETE);
  key(SDLK_BACKSPACE);
  EXPECT_TRUE(host_.pumpEvents());
  EXPECT_EQ(field->text(), "Micropho");
  EXPECT_EQ(field->caretPosition(), 8u);

  // An alert without a field in front: a held Return does nothing more, a press answers it.
  field->resignFirstResponder();
  std::vector<std::string> ran;
  auto alert = UIAlertController::alertControllerWithTitle("Profile saved", std::nullopt, UIAlertControllerStyle::Alert);
  alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default,
                                                  [&](UIAlertAction& a) { ran.push_back(a.title()); }));
  root->presentViewController(alert, false);
  key(SDLK_RETURN, true);
  key(SDLK_ESCAPE, true);
  EXPECT_TRUE(host_.pumpEvents());
  clock.step(0.5);
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(root->presentedViewController(), alert);
  key(SDLK_KP_ENTER);
  EXPECT_TRUE(host_.pumpEvents());
  clock.step(0.5);
  EXPECT_EQ(ran, std::vector<std::string>{"OK"});
  EXPECT_EQ(root->presentedViewController(), nullptr);
}

}  // namespace
