#pragma once
// Plays an audio file through its own remote I/O unit and hands the first channel of every
// rendered buffer to the engine's buffer manager, as the microphone chain does.
//
// Failures never end the process: creation returns null with an error, and the caller's
// microphone chain is left as it was. The end of the file (without looping) is noticed on the
// render thread, which only rewinds and raises a flag; the player is stopped on the main thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "analysis/CallbackData.h"
#include "platform/audio/AudioConverter.h"
#include "platform/audio/AudioFile.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

inline constexpr const char* AUFilePlayerErrorDomain = "AUFilePlayerErrorDomain";

// Reading state shared by the converter's input procedure (render thread) and the position
// operations (main thread).
struct AudioFileIO {
  AudioFileID audioFileID = nullptr;
  std::atomic<int64_t> startingPacketCount{0};
  std::vector<uint8_t> srcBuffer;
  uint32_t srcBufferSize = 0;
  AudioStreamBasicDescription srcFormat{};
  uint32_t srcSizePerPacket = 0;
  uint32_t numPacketsToRead = 0;
  std::vector<AudioStreamPacketDescription> packetDescs;  // empty for constant-size packets
  uint64_t totalPacketCount = 0;
  std::atomic<bool> isLoop{false};
  std::atomic<bool> isDone{false};
};

class AUFilePlayer : public std::enable_shared_from_this<AUFilePlayer> {
 public:
  static constexpr uint32_t kSrcBufferSize = 32768;

  // initWithContentsOfURL:CD: — null with *error (domain AUFilePlayerErrorDomain, the platform
  // status as code, the failed step in the description) when the file or the unit cannot be set up.
  static std::shared_ptr<AUFilePlayer> create(const std::string& url, const CallbackData& cd, NSErrorRef* error);
  ~AUFilePlayer();

  // Render thread: fills the list with converted audio; returns the frames produced (the rest of
  // the list is zeroed). At the end of the file it rewinds to packet 0 and signals the main thread.
  uint32_t fillBuffer(AudioBufferList* ioData, uint32_t inNumberFrames);

  void setIsLoop(bool loop) { audioFileIO_.isLoop.store(loop); }
  bool isLoop() const { return audioFileIO_.isLoop.load(); }
  // Percent is clamped to 0-100 (not a number: 0) and the position to the packet count.
  void setCurrentPositionPercent(float percent);
  void setCurrentPosition(uint64_t position);
  uint64_t currentPosition() const;
  // 0 for a file without packets.
  float currentPositionInPercent() const;
  // The file's packet count less one (0 for a file without packets).
  uint64_t totalPacketCount() const;

  // Starts the unit when not playing; returns its status (noErr when already playing).
  OSStatus play();
  void stop();
  bool isPlaying() const { return isPlaying_; }

  float fileLength() const { return fileLength_; }
  void setFileLength(float seconds) { fileLength_ = seconds; }
  AudioUnit audioUnit() const { return audioUnit_; }
  // Main thread: stops the player if the render thread reported the end of the file. Runs by
  // itself through the main queue; tests may call it.
  void handleEndOfFile();
  bool endOfFilePending() const { return endPending_.load(); }

 private:
  AUFilePlayer() = default;
  void prepareAudioUnit();                      // throws CAXException
  OSStatus prepareAudioConverter(const std::string& url, std::string* failedStep);
  void notifierLoop();
  static OSStatus filePlayerRenderCallback(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                           const AudioTimeStamp* inTimeStamp, uint32_t inBusNumber,
                                           uint32_t inNumberFrames, AudioBufferList* ioData);
  static OSStatus fileReadProc(AudioConverterRef, uint32_t* ioNumberDataPackets, AudioBufferList* ioData,
                               AudioStreamPacketDescription** outDataPacketDescription, void* inUserData);

  AudioUnit audioUnit_ = nullptr;
  bool isPlaying_ = false;
  AudioConverterRef audioConverter_ = nullptr;
  AudioFileIO audioFileIO_;
  AudioStreamBasicDescription outputFormat_{};
  float fileLength_ = 0;
  CallbackData callbackData_;

  std::atomic<bool> endPending_{false};
  std::atomic<uint32_t> endSignal_{0};
  std::atomic<bool> notifierStop_{false};
  std::thread notifier_;
};

// A list of numbers from a float array; a length below 1 (or no array) gives an empty list.
Value initWithFloatBuffer(const float* buffer, int32_t length);
