#pragma once
// A virtual input that plays an audio file in real time as if it were the microphone: a thread
// converts the file to mono 44,100 Hz float and delivers one buffer per preferred I/O duration,
// paced by the steady clock, looping at the end of the file.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/audio/AudioInputBackend.h"

class FileAudioInput : public AudioInputBackend {
 public:
  // Null with *status set when the file cannot be opened or converted.
  static std::shared_ptr<FileAudioInput> create(const std::string& path, OSStatus* status = nullptr);
  ~FileAudioInput() override;
  std::string identifier() const override { return "file:" + path_; }
  // What the capture thread does for each delivery, without the pacing: fills `frames` mono samples
  // at 44,100 Hz from the file (looping at its end), zeros after a read error; returns the frames
  // the file gave. Not while capture runs (the capture thread owns the reader then).
  uint32_t readSamples(float* samples, uint32_t frames);

 protected:
  OSStatus startCapture() override;
  // Ends the playing thread; the next start plays on from where it stopped.
  void stopCapture() override;

 private:
  explicit FileAudioInput(std::string path);
  void run();
  struct Reader;
  std::string path_;
  std::unique_ptr<Reader> reader_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};
