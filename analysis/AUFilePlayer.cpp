#include "analysis/AUFilePlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analysis/BufferManager.h"
#include "analysis/CAXException.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSLog.h"

namespace {
NSErrorRef playerError(OSStatus status, const std::string& description) {
  return NSError::errorWithDomain(AUFilePlayerErrorDomain, status,
                                  Value{{NSLocalizedDescriptionKey, description}});
}
}  // namespace

std::shared_ptr<AUFilePlayer> AUFilePlayer::create(const std::string& url, const CallbackData& cd,
                                                   NSErrorRef* error) {
  auto player = std::shared_ptr<AUFilePlayer>(new AUFilePlayer());
  player->callbackData_ = cd;
  try {
    player->prepareAudioUnit();
  } catch (const CAXException& e) {
    NSLog("AUFilePlayer: %s (%s)", e.mOperation, e.FormatError().c_str());
    if (error) *error = playerError(e.mError, e.mOperation);
    return nullptr;
  }
  std::string step;
  if (OSStatus status = player->prepareAudioConverter(url, &step); status != noErr) {
    NSLog("%s = %-4.4s", step.c_str(), FourCCString(status).c_str());
    if (error) *error = playerError(status, step + " failed for \"" + url + "\": " + AudioStatusDescription(status));
    return nullptr;
  }
  player->notifier_ = std::thread([raw = player.get()] { raw->notifierLoop(); });
  return player;
}

void AUFilePlayer::prepareAudioUnit() {
  AudioComponentDescription desc;
  desc.componentType = kAudioUnitType_Output;
  desc.componentSubType = kAudioUnitSubType_RemoteIO;
  desc.componentManufacturer = kAudioUnitManufacturer_System;
  AudioComponent component = AudioComponentFindNext(nullptr, &desc);
  XThrowIfError(AudioComponentInstanceNew(component, &audioUnit_), "couldn't open the remote I/O unit");

  // The player only plays: its unit renders on the demand of the output it is heard through (or
  // of a real-time clock without one). Capturing as well would make the file wait for a microphone
  // and run at the capture's pace, and a machine without one could not play it at all.
  uint32_t one = 1;
  XThrowIfError(AudioUnitSetProperty(audioUnit_, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0,
                                     &one, sizeof one),
                "couldn't enable output on the remote I/O unit");

  AURenderCallbackStruct callback;
  callback.inputProc = filePlayerRenderCallback;
  callback.inputProcRefCon = this;
  AudioUnitSetProperty(audioUnit_, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &callback,
                       sizeof callback);

  outputFormat_ = MakeFloatNonInterleavedFormat(2);
  XThrowIfError(AudioUnitSetProperty(audioUnit_, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0,
                                     &outputFormat_, sizeof outputFormat_),
                "couldn't set the remote I/O unit's output client format");
  XThrowIfError(AudioUnitSetProperty(audioUnit_, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1,
                                     &outputFormat_, sizeof outputFormat_),
                "couldn't set the remote I/O unit's input client format");
  // Unlike the unit's other steps a failed initialisation is not fatal here: play reports it.
  AudioUnitInitialize(audioUnit_);
}

OSStatus AUFilePlayer::prepareAudioConverter(const std::string& url, std::string* failedStep) {
  AudioFileIO& io = audioFileIO_;
  *failedStep = "AudioFileOpen";
  OSStatus status = AudioFileOpenURL(url, kAudioFileReadPermission, 0, &io.audioFileID);
  if (status != noErr) return status;

  AudioStreamBasicDescription format;
  uint32_t size = sizeof format;
  AudioFileGetProperty(io.audioFileID, kAudioFilePropertyDataFormat, &size, &format);
  double duration = 0;
  size = sizeof duration;
  *failedStep = "EstimatedDuration";
  status = AudioFileGetProperty(io.audioFileID, kAudioFilePropertyEstimatedDuration, &size, &duration);
  if (status != noErr) return status;
  fileLength_ = float(duration);

  *failedStep = "AudioConverterNew";
  status = AudioConverterNew(&format, &outputFormat_, &audioConverter_);
  if (status != noErr) return status;

  io.srcBufferSize = kSrcBufferSize;
  io.srcBuffer.assign(io.srcBufferSize, 0);
  io.startingPacketCount.store(0);
  io.srcFormat = format;
  if (format.mBytesPerPacket != 0) {
    io.srcSizePerPacket = format.mBytesPerPacket;
    io.numPacketsToRead = io.srcBufferSize / io.srcSizePerPacket;
  } else {
    uint32_t largest = 0;
    size = sizeof largest;
    AudioFileGetProperty(io.audioFileID, kAudioFilePropertyPacketSizeUpperBound, &size, &largest);
    io.srcSizePerPacket = largest;
    io.numPacketsToRead = largest ? io.srcBufferSize / largest : 0;
    io.packetDescs.assign(io.numPacketsToRead, AudioStreamPacketDescription{});
  }
  uint64_t packets = 0;
  size = sizeof packets;
  *failedStep = "AudioDataPacketCount";
  status = AudioFileGetProperty(io.audioFileID, kAudioFilePropertyAudioDataPacketCount, &size, &packets);
  if (status != noErr) return status;
  io.totalPacketCount = packets;

  uint32_t cookieSize = 0;
  if (AudioFileGetPropertyInfo(io.audioFileID, kAudioFilePropertyMagicCookieData, &cookieSize, nullptr) == noErr &&
      cookieSize > 0) {
    std::vector<uint8_t> cookie(cookieSize);
    if (AudioFileGetProperty(io.audioFileID, kAudioFilePropertyMagicCookieData, &cookieSize, cookie.data()) == noErr)
      AudioConverterSetProperty(audioConverter_, kAudioConverterDecompressionMagicCookie, cookieSize, cookie.data());
  }
  return noErr;
}

AUFilePlayer::~AUFilePlayer() {
  notifierStop_.store(true);
  endSignal_.fetch_add(1);
  endSignal_.notify_all();
  if (notifier_.joinable()) notifier_.join();
  // Disposing stops the unit and waits for a callback in flight, before the state it uses goes.
  if (audioUnit_) {
    AudioOutputUnitStop(audioUnit_);
    AudioUnitUninitialize(audioUnit_);
    AudioComponentInstanceDispose(audioUnit_);
    audioUnit_ = nullptr;
  }
  if (audioConverter_) AudioConverterDispose(audioConverter_);
  if (audioFileIO_.audioFileID) AudioFileClose(audioFileIO_.audioFileID);
}

void AUFilePlayer::notifierLoop() {
  uint32_t seen = 0;
  for (;;) {
    endSignal_.wait(seen);
    seen = endSignal_.load();
    if (notifierStop_.load()) return;
    std::weak_ptr<AUFilePlayer> weak = weak_from_this();
    DispatchQueue::main()->async([weak] {
      if (auto player = weak.lock()) player->handleEndOfFile();
    });
  }
}

void AUFilePlayer::handleEndOfFile() {
  if (endPending_.exchange(false)) stop();
}

OSStatus AUFilePlayer::play() {
  if (isPlaying_) return noErr;
  OSStatus status = AudioOutputUnitStart(audioUnit_);
  if (status != noErr) return status;
  audioFileIO_.isDone.store(false);
  endPending_.store(false);
  isPlaying_ = true;
  return noErr;
}

void AUFilePlayer::stop() {
  if (isPlaying_) AudioOutputUnitStop(audioUnit_);
  isPlaying_ = false;
}

void AUFilePlayer::setCurrentPositionPercent(float percent) {
  if (!std::isfinite(percent)) percent = 0;
  percent = std::clamp(percent, 0.0f, 100.0f);
  const uint64_t total = audioFileIO_.totalPacketCount;
  int64_t position = int64_t(double(total) / 100.0 * double(percent));
  audioFileIO_.startingPacketCount.store(std::clamp<int64_t>(position, 0, int64_t(total)));
}

void AUFilePlayer::setCurrentPosition(uint64_t position) {
  audioFileIO_.startingPacketCount.store(int64_t(std::min(position, audioFileIO_.totalPacketCount)));
}

uint64_t AUFilePlayer::currentPosition() const { return uint64_t(audioFileIO_.startingPacketCount.load()); }

float AUFilePlayer::currentPositionInPercent() const {
  if (audioFileIO_.totalPacketCount == 0) return 0.0f;
  return float(audioFileIO_.startingPacketCount.load()) / float(audioFileIO_.totalPacketCount) * 100.0f;
}

uint64_t AUFilePlayer::totalPacketCount() const {
  return audioFileIO_.totalPacketCount == 0 ? 0 : audioFileIO_.totalPacketCount - 1;
}

uint32_t AUFilePlayer::fillBuffer(AudioBufferList* ioData, uint32_t inNumberFrames) {
  uint32_t frames = 0;
  OSStatus status = kAudio_ParamError;
  if (!endPending_.load(std::memory_order_relaxed)) {
    frames = inNumberFrames;
    status = AudioConverterFillComplexBuffer(audioConverter_, fileReadProc, &audioFileIO_, &frames, ioData,
                                             audioFileIO_.packetDescs.empty() ? nullptr : audioFileIO_.packetDescs.data());
  }
  for (uint32_t b = 0; b < ioData->mNumberBuffers; ++b) {
    auto* data = static_cast<float*>(ioData->mBuffers[b].mData);
    if (data && frames < inNumberFrames) std::memset(data + frames, 0, (inNumberFrames - frames) * sizeof(float));
    ioData->mBuffers[b].mDataByteSize = inNumberFrames * sizeof(float);
  }
  if (status != noErr || frames == 0) {
    frames = 0;
    if (!endPending_.load(std::memory_order_relaxed)) {
      // The end of the file (or a read failure): rewind and let the main thread stop the unit;
      // stopping it from inside its own callback is not allowed.
      audioFileIO_.startingPacketCount.store(0);
      endPending_.store(true);
      endSignal_.fetch_add(1);
      endSignal_.notify_one();
    }
  }
  return frames;
}

OSStatus AUFilePlayer::filePlayerRenderCallback(void* inRefCon, AudioUnitRenderActionFlags*,
                                                const AudioTimeStamp* inTimeStamp, uint32_t, uint32_t inNumberFrames,
                                                AudioBufferList* ioData) {
  auto* player = static_cast<AUFilePlayer*>(inRefCon);
  if (!player || !ioData || ioData->mNumberBuffers == 0) return kAudio_ParamError;
  const uint32_t frames = player->fillBuffer(ioData, inNumberFrames);
  BufferManager* manager = player->callbackData_.bufferManager;
  if (frames > 0 && manager && manager->mFFTDataWanted.load() != 0) {
    manager->BeginDelivery(inTimeStamp, inNumberFrames);
    manager->CopyAudioToFFTInput(static_cast<const float*>(ioData->mBuffers[0].mData), inNumberFrames);
  }
  return noErr;
}

OSStatus AUFilePlayer::fileReadProc(AudioConverterRef, uint32_t* ioNumberDataPackets, AudioBufferList* ioData,
                                    AudioStreamPacketDescription** outDescriptions, void* inUserData) {
  auto* io = static_cast<AudioFileIO*>(inUserData);
  if (io->isDone.load()) {
    *ioNumberDataPackets = 0;
    return -1;
  }
  const uint32_t limit = io->srcSizePerPacket ? io->srcBufferSize / io->srcSizePerPacket : 0;
  uint32_t packets = std::min(*ioNumberDataPackets, limit);
  int64_t position = io->startingPacketCount.load();
  if (position >= int64_t(io->totalPacketCount)) {
    if (io->isLoop.load() && io->totalPacketCount > 0) {
      position = 0;
      io->startingPacketCount.store(0);
    } else {
      io->isDone.store(true);
      *ioNumberDataPackets = 0;
      return -1;
    }
  }
  uint32_t bytes = io->srcBufferSize;
  OSStatus status = AudioFileReadPacketData(io->audioFileID, false, &bytes,
                                            io->packetDescs.empty() ? nullptr : io->packetDescs.data(), position,
                                            &packets, io->srcBuffer.data());
  if (status != noErr) {
    *ioNumberDataPackets = 0;
    return status;
  }
  // A position set meanwhile by the main thread wins; it applies from the next read.
  int64_t next = position + packets;
  if (io->startingPacketCount.compare_exchange_strong(position, next) && next >= int64_t(io->totalPacketCount)) {
    if (io->isLoop.load()) io->startingPacketCount.store(0);
    else io->isDone.store(true);
  }
  *ioNumberDataPackets = packets;
  ioData->mNumberBuffers = 1;
  ioData->mBuffers[0].mNumberChannels = io->srcFormat.mChannelsPerFrame;
  ioData->mBuffers[0].mDataByteSize = bytes;
  ioData->mBuffers[0].mData = io->srcBuffer.data();
  if (outDescriptions) *outDescriptions = io->packetDescs.empty() ? nullptr : io->packetDescs.data();
  return noErr;
}

Value initWithFloatBuffer(const float* buffer, int32_t length) {
  Value list = Value::array();
  if (!buffer || length < 1) return list;
  for (int32_t i = 0; i < length; ++i) list.push_back(double(buffer[i]));
  return list;
}
