#pragma once
// The audio platform's plain types: statuses, stream descriptions, buffer lists, time stamps,
// component descriptions and the property, scope and error constants the capture code uses.
#include <cstdint>
#include <string>

using OSStatus = int32_t;
using AudioUnitPropertyID = uint32_t;
using AudioUnitScope = uint32_t;
using AudioUnitElement = uint32_t;
using AudioUnitRenderActionFlags = uint32_t;
using AudioFormatID = uint32_t;
using AudioFormatFlags = uint32_t;

constexpr uint32_t FourCC(const char (&code)[5]) {
  return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
         (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

// Formats a status the way the platform's tools print one: a four-character code between single
// quotes when all four bytes (most significant first) are printable, otherwise "%d" for
// -199,999..199,999 and "0x%x" beyond.
std::string FormatOSStatus(OSStatus status);
// What went wrong, in words, followed by the status in parentheses as FormatOSStatus prints it:
// "no such file (-43)", "not an audio file ('typ?')", "audio server unavailable (-10876)". A
// status without words of its own reads "audio error (<status>)".
std::string AudioStatusDescription(OSStatus status);
// The status's four bytes, most significant first, as characters (for "%-4.4s" log lines);
// unprintable bytes become '?'.
std::string FourCCString(OSStatus status);

constexpr OSStatus noErr = 0;
constexpr OSStatus kAudio_ParamError = -50;
constexpr OSStatus kAudio_FileNotFoundError = -43;
constexpr OSStatus kAudio_MemFullError = -108;
constexpr OSStatus kAudioUnitErr_InvalidProperty = -10879;
constexpr OSStatus kAudioUnitErr_InvalidParameter = -10878;
constexpr OSStatus kAudioUnitErr_InvalidElement = -10877;
constexpr OSStatus kAudioUnitErr_NoConnection = -10876;
constexpr OSStatus kAudioUnitErr_FormatNotSupported = -10868;
constexpr OSStatus kAudioUnitErr_Uninitialized = -10867;
constexpr OSStatus kAudioUnitErr_InvalidScope = -10866;
constexpr OSStatus kAudioUnitErr_PropertyNotWritable = -10865;
constexpr OSStatus kAudioUnitErr_CannotDoInCurrentContext = -10863;
constexpr OSStatus kAudioUnitErr_InvalidPropertyValue = -10851;
constexpr OSStatus kAudioUnitErr_Initialized = -10849;  // property fixed while initialised
constexpr OSStatus kAudioFileUnspecifiedError = FourCC("wht?");
constexpr OSStatus kAudioFileUnsupportedFileTypeError = FourCC("typ?");
constexpr OSStatus kAudioFileInvalidFileError = FourCC("dta?");
constexpr OSStatus kAudioFileUnsupportedPropertyError = FourCC("pty?");
constexpr OSStatus kAudioFilePermissionsError = FourCC("prm?");
constexpr OSStatus kAudioFileBadPropertySizeError = FourCC("!siz");
constexpr OSStatus kAudioFileEndOfFileError = -39;
constexpr OSStatus kAudioFilePositionError = -40;
constexpr OSStatus kAudioConverterErr_FormatNotSupported = FourCC("fmt?");
constexpr OSStatus kAudioConverterErr_InvalidInputSize = FourCC("insz");
// The input names a capture source the audio server does not have.
constexpr OSStatus kAudioHardwareBadDeviceError = FourCC("!dev");

constexpr AudioFormatID kAudioFormatLinearPCM = FourCC("lpcm");
constexpr AudioFormatID kAudioFormatMPEG4AAC = FourCC("aac ");

constexpr AudioFormatFlags kAudioFormatFlagIsFloat = 1u << 0;
constexpr AudioFormatFlags kAudioFormatFlagIsBigEndian = 1u << 1;
constexpr AudioFormatFlags kAudioFormatFlagIsSignedInteger = 1u << 2;
constexpr AudioFormatFlags kAudioFormatFlagIsPacked = 1u << 3;
constexpr AudioFormatFlags kAudioFormatFlagIsNonInterleaved = 1u << 5;
constexpr AudioFormatFlags kAudioFormatFlagsNativeFloatPacked =
    kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;

struct AudioStreamBasicDescription {
  double mSampleRate = 0;
  AudioFormatID mFormatID = 0;
  AudioFormatFlags mFormatFlags = 0;
  uint32_t mBytesPerPacket = 0;
  uint32_t mFramesPerPacket = 0;
  uint32_t mBytesPerFrame = 0;
  uint32_t mChannelsPerFrame = 0;
  uint32_t mBitsPerChannel = 0;
  uint32_t mReserved = 0;
};

struct AudioStreamPacketDescription {
  int64_t mStartOffset = 0;
  uint32_t mVariableFramesInPacket = 0;
  uint32_t mDataByteSize = 0;
};

struct AudioBuffer {
  uint32_t mNumberChannels = 0;
  uint32_t mDataByteSize = 0;
  void* mData = nullptr;
};

// A buffer list with room for up to two buffers (the platform's variable-length record; this
// system never needs more than two channels).
struct AudioBufferList {
  static constexpr uint32_t kMaxBuffers = 2;
  uint32_t mNumberBuffers = 0;
  AudioBuffer mBuffers[kMaxBuffers];
};

enum : uint32_t { kAudioTimeStampSampleTimeValid = 1u << 0, kAudioTimeStampHostTimeValid = 1u << 1 };

struct AudioTimeStamp {
  double mSampleTime = 0;
  uint64_t mHostTime = 0;
  uint32_t mFlags = 0;
};

struct AudioComponentDescription {
  uint32_t componentType = 0;
  uint32_t componentSubType = 0;
  uint32_t componentManufacturer = 0;
  uint32_t componentFlags = 0;
  uint32_t componentFlagsMask = 0;
};

constexpr uint32_t kAudioUnitType_Output = FourCC("auou");
constexpr uint32_t kAudioUnitSubType_RemoteIO = FourCC("rioc");
constexpr uint32_t kAudioUnitManufacturer_System = FourCC("syst");

constexpr AudioUnitScope kAudioUnitScope_Global = 0;
constexpr AudioUnitScope kAudioUnitScope_Input = 1;
constexpr AudioUnitScope kAudioUnitScope_Output = 2;

constexpr AudioUnitPropertyID kAudioUnitProperty_StreamFormat = 8;
constexpr AudioUnitPropertyID kAudioUnitProperty_MaximumFramesPerSlice = 14;
constexpr AudioUnitPropertyID kAudioUnitProperty_LastRenderError = 22;
constexpr AudioUnitPropertyID kAudioUnitProperty_SetRenderCallback = 23;
constexpr AudioUnitPropertyID kAudioOutputUnitProperty_IsRunning = 2001;
constexpr AudioUnitPropertyID kAudioOutputUnitProperty_EnableIO = 2003;

using AURenderCallback = OSStatus (*)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                      const AudioTimeStamp* inTimeStamp, uint32_t inBusNumber,
                                      uint32_t inNumberFrames, AudioBufferList* ioData);

struct AURenderCallbackStruct {
  AURenderCallback inputProc = nullptr;
  void* inputProcRefCon = nullptr;
};

inline constexpr double kAudioSampleRate = 44100.0;

// The analyser's client format: 32-bit float, packed, non-interleaved, at 44,100 Hz.
inline AudioStreamBasicDescription MakeFloatNonInterleavedFormat(uint32_t channels) {
  AudioStreamBasicDescription f;
  f.mSampleRate = kAudioSampleRate;
  f.mFormatID = kAudioFormatLinearPCM;
  f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
  f.mBytesPerPacket = 4;
  f.mFramesPerPacket = 1;
  f.mBytesPerFrame = 4;
  f.mChannelsPerFrame = channels;
  f.mBitsPerChannel = 32;
  f.mReserved = 0;
  return f;
}
