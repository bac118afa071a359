#include "platform/audio/AudioFile.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/foundation/FileAddress.h"

struct OpaqueAudioFileID {
  SNDFILE* file = nullptr;
  SF_INFO info{};
  int64_t position = 0;  // frame the next sequential read starts at
};

OSStatus AudioFileOpenURL(const std::string& url, int8_t permissions, uint32_t, AudioFileID* out) {
  if (!out) return kAudio_ParamError;
  *out = nullptr;
  if (permissions != kAudioFileReadPermission) return kAudio_ParamError;
  const std::optional<std::string> decoded = ns::pathFromFileURL(url);
  if (!decoded) return kAudio_FileNotFoundError;
  const std::string& path = *decoded;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return kAudio_FileNotFoundError;
  if (!S_ISREG(st.st_mode)) return kAudioFileUnsupportedFileTypeError;
  if (::access(path.c_str(), R_OK) != 0) return kAudioFilePermissionsError;
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return kAudioFileUnsupportedFileTypeError;
  if (info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) {
    sf_close(file);
    return kAudioFileInvalidFileError;
  }
  auto* id = new OpaqueAudioFileID();
  id->file = file;
  id->info = info;
  *out = id;
  return noErr;
}

OSStatus AudioFileClose(AudioFileID audioFile) {
  if (!audioFile) return kAudio_ParamError;
  sf_close(audioFile->file);
  delete audioFile;
  return noErr;
}

namespace {
uint32_t propertySize(AudioFilePropertyID id) {
  switch (id) {
    case kAudioFilePropertyDataFormat: return sizeof(AudioStreamBasicDescription);
    case kAudioFilePropertyEstimatedDuration: return sizeof(double);
    case kAudioFilePropertyAudioDataPacketCount: return sizeof(uint64_t);
    case kAudioFilePropertyMaximumPacketSize:
    case kAudioFilePropertyPacketSizeUpperBound: return sizeof(uint32_t);
    case kAudioFilePropertyMagicCookieData: return 0;
    default: return UINT32_MAX;
  }
}
}  // namespace

OSStatus AudioFileGetPropertyInfo(AudioFileID audioFile, AudioFilePropertyID id, uint32_t* outDataSize,
                                  uint32_t* isWritable) {
  if (!audioFile) return kAudio_ParamError;
  uint32_t size = propertySize(id);
  if (size == UINT32_MAX) return kAudioFileUnsupportedPropertyError;
  if (outDataSize) *outDataSize = size;
  if (isWritable) *isWritable = 0;
  return noErr;
}

OSStatus AudioFileGetProperty(AudioFileID audioFile, AudioFilePropertyID id, uint32_t* ioDataSize,
                              void* outData) {
  if (!audioFile || !ioDataSize) return kAudio_ParamError;
  const uint32_t size = propertySize(id);
  if (size == UINT32_MAX) return kAudioFileUnsupportedPropertyError;
  if (size == 0) {
    *ioDataSize = 0;
    return noErr;
  }
  if (!outData || *ioDataSize < size) return kAudioFileBadPropertySizeError;
  const SF_INFO& info = audioFile->info;
  const uint32_t channels = uint32_t(info.channels);
  switch (id) {
    case kAudioFilePropertyDataFormat: {
      AudioStreamBasicDescription f;
      f.mSampleRate = info.samplerate;
      f.mFormatID = kAudioFormatLinearPCM;
      f.mFormatFlags = kAudioFormatFlagsNativeFloatPacked;
      f.mBytesPerPacket = 4 * channels;
      f.mFramesPerPacket = 1;
      f.mBytesPerFrame = 4 * channels;
      f.mChannelsPerFrame = channels;
      f.mBitsPerChannel = 32;
      std::memcpy(outData, &f, sizeof f);
      break;
    }
    case kAudioFilePropertyEstimatedDuration: {
      double seconds = double(info.frames) / double(info.samplerate);
      std::memcpy(outData, &seconds, sizeof seconds);
      break;
    }
    case kAudioFilePropertyAudioDataPacketCount: {
      uint64_t count = uint64_t(info.frames);
      std::memcpy(outData, &count, sizeof count);
      break;
    }
    default: {
      uint32_t bytes = 4 * channels;
      std::memcpy(outData, &bytes, sizeof bytes);
      break;
    }
  }
  *ioDataSize = size;
  return noErr;
}

OSStatus AudioFileReadPacketData(AudioFileID audioFile, bool, uint32_t* ioNumBytes,
                                 AudioStreamPacketDescription* outPacketDescriptions,
                                 int64_t inStartingPacket, uint32_t* ioNumPackets, void* outBuffer) {
  if (!audioFile || !ioNumBytes || !ioNumPackets || !outBuffer) return kAudio_ParamError;
  if (inStartingPacket < 0) return kAudioFilePositionError;
  const uint32_t bytesPerPacket = 4 * uint32_t(audioFile->info.channels);
  uint32_t packets = std::min(*ioNumPackets, *ioNumBytes / bytesPerPacket);
  *ioNumPackets = 0;
  *ioNumBytes = 0;
  if (inStartingPacket >= audioFile->info.frames || packets == 0) return noErr;
  if (audioFile->position != inStartingPacket) {
    if (sf_seek(audioFile->file, inStartingPacket, SEEK_SET) < 0) return kAudioFilePositionError;
    audioFile->position = inStartingPacket;
  }
  sf_count_t got = sf_readf_float(audioFile->file, static_cast<float*>(outBuffer), packets);
  if (got < 0) return kAudioFileInvalidFileError;
  audioFile->position += got;
  *ioNumPackets = uint32_t(got);
  *ioNumBytes = uint32_t(got) * bytesPerPacket;
  if (outPacketDescriptions) {
    for (uint32_t i = 0; i < uint32_t(got); ++i) {
      outPacketDescriptions[i].mStartOffset = int64_t(i) * bytesPerPacket;
      outPacketDescriptions[i].mVariableFramesInPacket = 0;
      outPacketDescriptions[i].mDataByteSize = bytesPerPacket;
    }
  }
  return noErr;
}
