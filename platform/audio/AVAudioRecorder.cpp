#include "platform/audio/AVAudioRecorder.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/SpscRing.h"

namespace {
constexpr float kSilentDb = -160.0f;
float toDb(double power) {
  if (!(power > 0)) return kSilentDb;
  return std::max(kSilentDb, float(10.0 * std::log10(power)));
}

int formatForPath(const std::string& path) {
  auto dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
  if (ext == "aif" || ext == "aiff") return SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
  if (ext == "caf") return SF_FORMAT_CAF | SF_FORMAT_FLOAT;
  if (ext == "flac") return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  if (ext == "ogg") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
}

NSErrorRef recorderError(const std::string& text) {
  return NSError::errorWithDomain("NSOSStatusErrorDomain", kAudio_ParamError,
                                  Value{{NSLocalizedDescriptionKey, text}});
}
}  // namespace

std::shared_ptr<AVAudioRecorder> AVAudioRecorder::create(const std::string& url, const Value& settings,
                                                         NSErrorRef* error) {
  if (url.empty()) {
    if (error) *error = recorderError("No file to record to.");
    return nullptr;
  }
  uint32_t channels = 2;
  if (settings.is_object()) {
    if (auto it = settings.find(AVNumberOfChannelsKey); it != settings.end()) {
      if (!it->is_number() || it->get<double>() < 1 || it->get<double>() > 2) {
        if (error) *error = recorderError("Only one or two channels can be recorded.");
        return nullptr;
      }
      channels = uint32_t(it->get<double>());
    }
    if (auto it = settings.find(AVSampleRateKey); it != settings.end()) {
      if (!it->is_number() || it->get<double>() != kAudioSampleRate) {
        if (error) *error = recorderError("Only 44,100 Hz can be recorded.");
        return nullptr;
      }
    }
  }
  auto recorder = std::shared_ptr<AVAudioRecorder>(new AVAudioRecorder());
  recorder->url_ = url;
  recorder->channels_ = channels;
  recorder->ring_ = std::make_unique<SpscRing>(size_t(kAudioSampleRate) * 4);
  return recorder;
}

AVAudioRecorder::~AVAudioRecorder() { stop(); }

bool AVAudioRecorder::prepareToRecord() {
  if (file_) return true;
  SF_INFO info{};
  info.samplerate = int(kAudioSampleRate);
  info.channels = int(channels_);
  info.format = formatForPath(url_);
  file_ = sf_open(url_.c_str(), SFM_WRITE, &info);
  return file_ != nullptr;
}

bool AVAudioRecorder::record() {
  if (recording_) return true;
  if (!prepareToRecord()) return false;
  OSStatus status = noErr;
  backend_ = AVAudioSession::sharedInstance().inputBackend(&status);
  if (!backend_) return false;
  writerStop_.store(false);
  writer_ = std::thread([this] { writerLoop(); });
  if (backend_->addSink(this) != noErr) {
    writerStop_.store(true);
    writer_.join();
    backend_->stopCapturingIfIdle();  // started for this recorder alone
    backend_.reset();
    return false;
  }
  recording_ = true;
  return true;
}

void AVAudioRecorder::pause() {
  if (!recording_) return;
  backend_->removeSink(this);
  backend_.reset();
  writerStop_.store(true);
  writer_.join();
  drain();
  recording_ = false;
}

void AVAudioRecorder::stop() {
  const bool wasRecording = recording_;
  pause();
  if (file_) {
    sf_close(static_cast<SNDFILE*>(file_));
    file_ = nullptr;
    if (wasRecording)
      if (auto d = delegate_.lock()) d->audioRecorderDidFinishRecording(*this, true);
  }
}

void AVAudioRecorder::updateMeters() {
  average_ = lastAverage_.load();
  peak_ = lastPeak_.load();
}

float AVAudioRecorder::averagePowerForChannel(uint32_t channel) const {
  return (channel < channels_ && meteringEnabled_.load()) ? average_ : kSilentDb;
}

float AVAudioRecorder::peakPowerForChannel(uint32_t channel) const {
  return (channel < channels_ && meteringEnabled_.load()) ? peak_ : kSilentDb;
}

void AVAudioRecorder::audioInputDidCapture(const float* samples, uint32_t frames, const AudioTimeStamp&) {
  if (frames == 0) return;
  ring_->write(samples, frames);
  if (meteringEnabled_.load(std::memory_order_relaxed)) {
    double sum = 0;
    float peak = 0;
    for (uint32_t i = 0; i < frames; ++i) {
      sum += double(samples[i]) * samples[i];
      peak = std::max(peak, std::fabs(samples[i]));
    }
    lastAverage_.store(toDb(sum / frames));
    lastPeak_.store(toDb(double(peak) * peak));
  }
}

void AVAudioRecorder::drain() {
  float mono[1024];
  float frames[2048];
  size_t n;
  while ((n = ring_->read(mono, 1024)) > 0) {
    for (size_t i = 0; i < n; ++i)
      for (uint32_t c = 0; c < channels_; ++c) frames[i * channels_ + c] = mono[i];
    if (file_) sf_writef_float(static_cast<SNDFILE*>(file_), frames, sf_count_t(n));
  }
}

void AVAudioRecorder::writerLoop() {
  while (!writerStop_.load()) {
    drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
