#pragma once
// The error thrown by the audio unit set-up code: what failed (at most 255 characters) and the
// platform status.
#include <cstring>
#include <exception>
#include <string>

#include "platform/audio/AudioTypes.h"

class CAXException : public std::exception {
 public:
  CAXException(const char* operation, OSStatus err) : mError(err) {
    if (!operation) {
      mOperation[0] = '\0';
    } else {
      std::strncpy(mOperation, operation, sizeof mOperation - 1);
      mOperation[sizeof mOperation - 1] = '\0';
    }
  }
  const char* what() const noexcept override { return mOperation; }
  // The status as a four-character code in quotes, or "%d", or "0x%x".
  std::string FormatError() const { return FormatOSStatus(mError); }

  char mOperation[256];
  OSStatus mError;
};

// Throws a CAXException with the message when the status is not noErr.
inline void XThrowIfError(OSStatus status, const char* operation) {
  if (status != noErr) throw CAXException(operation, status);
}
