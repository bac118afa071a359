// An image file of the bundle (PNG) as UIImage reads it: refused within the limits before it is
// decoded, or decoded and drawn, stretched and as a template, into a small context.
#include <cairo.h>

#include <fstream>

#include "platform/foundation/NSLog.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/PNGFile.h"
#include "platform/graphics/UIImage.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto quiet = ns::setLogSink([](const std::string&) {});
  (void)quiet;
  static const std::string path = fuzzsupport::privateHome() + "/image@2x.png";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  auto image = UIImage::imageWithContentsOfFile(path);
  if (!image) return 0;
  const auto declared = png::headerSize(fuzzsupport::asText(data, size));
  if (!declared || declared->width * declared->height > png::kMaxPixels) fuzzsupport::broken("decoded past the limit");
  if (image->pixelWidth() != declared->width || image->pixelHeight() != declared->height)
    fuzzsupport::broken("the decoded size is not the declared one");
  auto bitmap = CGBitmapContext::create(64, 48);
  UIGraphicsPushContext(bitmap->context());
  image->drawInRect(CGRectMake(0, 0, 64, 48));
  image->resizableImageWithCapInsets({4, 4, 4, 4})->drawInRect(CGRectMake(2, 2, 30, 20));
  image->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate)
      ->drawInRectWithTint(CGRectMake(0, 0, 16, 16), UIColor::greenColor());
  UIGraphicsPopContext();
  return 0;
}
