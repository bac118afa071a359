#pragma once
// Named colours of the application's asset catalogue (colorNamed:). The catalogue is the bundle
// resource "Colors.plist": a dictionary of colour names and texts "#RRGGBB" or "#RRGGBBAA". It is
// read once per bundle folder (at most 256 KiB; a larger or malformed file is logged and gives no
// colours). Safe from any thread.
#include <string>

#include "platform/graphics/UIColor.h"

// The colour of the name, or none when the catalogue has no such colour (or a malformed one).
UIColorRef UIColorNamed(const std::string& name);

// The colour of a "#RRGGBB" or "#RRGGBBAA" text; none for any other text.
UIColorRef UIColorFromHexText(const std::string& text);
