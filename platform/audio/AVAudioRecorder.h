#pragma once
// Records the session's current input to a file and meters it. The container is chosen by the
// file's extension (.wav, .aif/.aiff, .caf, .flac, .ogg; anything else is written as WAV);
// samples are 32-bit float (16-bit for FLAC, Vorbis for Ogg). Compressed formats asked for in the
// settings are recorded into that container instead (libsndfile writes no AAC). The render thread
// only copies samples into a ring and updates the meter; a writer thread writes the file.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/audio/AudioInputBackend.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

inline constexpr const char* AVFormatIDKey = "AVFormatIDKey";
inline constexpr const char* AVSampleRateKey = "AVSampleRateKey";
inline constexpr const char* AVNumberOfChannelsKey = "AVNumberOfChannelsKey";

class AVAudioRecorder;
class AVAudioRecorderDelegate {
 public:
  virtual ~AVAudioRecorderDelegate() = default;
  virtual void audioRecorderDidFinishRecording(AVAudioRecorder&, bool /*successfully*/) {}
};

class SpscRing;

class AVAudioRecorder : public AudioInputSink {
 public:
  // Null with *error when the settings are impossible (channels outside 1-2, a rate other than
  // 44,100 Hz) or the URL is empty.
  static std::shared_ptr<AVAudioRecorder> create(const std::string& url, const Value& settings, NSErrorRef* error);
  ~AVAudioRecorder() override;

  void setDelegate(std::weak_ptr<AVAudioRecorderDelegate> delegate) { delegate_ = std::move(delegate); }
  void setMeteringEnabled(bool enabled) { meteringEnabled_.store(enabled); }

  // Creates the file. False when it cannot be written.
  bool prepareToRecord();
  // Starts or resumes capture into the file (prepares first when needed).
  bool record();
  void pause();
  void stop();
  bool isRecording() const { return recording_; }

  // Takes the meter reading of the most recent capture.
  void updateMeters();
  // dB relative to full scale of the channel's average power at the last updateMeters; -160 when
  // silent, metering is off or the channel does not exist.
  float averagePowerForChannel(uint32_t channel) const;
  float peakPowerForChannel(uint32_t channel) const;

  void audioInputDidCapture(const float* samples, uint32_t frames, const AudioTimeStamp& ts) override;

 private:
  AVAudioRecorder() = default;
  void writerLoop();
  void drain();

  std::string url_;
  uint32_t channels_ = 2;
  std::weak_ptr<AVAudioRecorderDelegate> delegate_;
  std::atomic<bool> meteringEnabled_{false};
  std::atomic<float> lastAverage_{-160.0f};  // written by the render thread
  std::atomic<float> lastPeak_{-160.0f};
  float average_ = -160.0f;
  float peak_ = -160.0f;
  bool recording_ = false;
  std::shared_ptr<AudioInputBackend> backend_;
  std::unique_ptr<SpscRing> ring_;
  void* file_ = nullptr;  // SNDFILE*
  std::thread writer_;
  std::atomic<bool> writerStop_{false};
};
