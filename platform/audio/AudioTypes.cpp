#include "platform/audio/AudioTypes.h"

#include <cctype>
#include <cstdio>

namespace {
void bytesOf(OSStatus status, char out[4]) {
  const uint32_t v = uint32_t(status);
  out[0] = char(v >> 24);
  out[1] = char(v >> 16);
  out[2] = char(v >> 8);
  out[3] = char(v);
}
}  // namespace

std::string FormatOSStatus(OSStatus status) {
  char b[4];
  bytesOf(status, b);
  bool printable = true;
  for (char c : b) printable = printable && std::isprint(static_cast<unsigned char>(c));
  char text[16];
  if (printable) std::snprintf(text, sizeof text, "'%c%c%c%c'", b[0], b[1], b[2], b[3]);
  else if (status >= -199999 && status <= 199999) std::snprintf(text, sizeof text, "%d", int(status));
  else std::snprintf(text, sizeof text, "0x%x", unsigned(status));
  return text;
}

std::string FourCCString(OSStatus status) {
  char b[4];
  bytesOf(status, b);
  std::string s(b, 4);
  for (char& c : s)
    if (!std::isprint(static_cast<unsigned char>(c))) c = '?';
  return s;
}

std::string AudioStatusDescription(OSStatus status) {
  const char* words = nullptr;
  switch (status) {
    case noErr: words = "no error"; break;
    case kAudio_FileNotFoundError: words = "no such file"; break;
    case kAudioFilePermissionsError: words = "permission denied"; break;
    case kAudioFileUnsupportedFileTypeError: words = "not an audio file"; break;
    case kAudioFileInvalidFileError: words = "damaged or empty audio file"; break;
    case kAudioFileUnspecifiedError: words = "the audio file cannot be read"; break;
    case kAudioFileEndOfFileError: words = "end of the audio file"; break;
    case kAudioFilePositionError: words = "position outside the audio file"; break;
    case kAudioConverterErr_FormatNotSupported: words = "audio format not supported"; break;
    case kAudioUnitErr_NoConnection: words = "audio server unavailable"; break;
    case kAudioHardwareBadDeviceError: words = "no such audio source"; break;
    case kAudio_MemFullError: words = "too many listeners on one input"; break;
    case kAudio_ParamError: words = "invalid argument"; break;
    case kAudioUnitErr_FormatNotSupported: words = "stream format not supported"; break;
    case kAudioUnitErr_Uninitialized: words = "audio unit not initialised"; break;
    case kAudioUnitErr_CannotDoInCurrentContext: words = "not allowed at this point"; break;
    default: break;
  }
  const std::string code = FormatOSStatus(status);
  return std::string(words ? words : "audio error") + " (" + code + ")";
}
