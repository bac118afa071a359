#include "platform/audio/FileAudioInput.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioConverter.h"
#include "platform/audio/AudioFile.h"

struct FileAudioInput::Reader {
  AudioFileID file = nullptr;
  AudioConverterRef converter = nullptr;
  AudioStreamBasicDescription format{};
  uint64_t packetCount = 0;
  int64_t position = 0;
  std::vector<float> source;  // interleaved source packets

  ~Reader() {
    if (converter) AudioConverterDispose(converter);
    if (file) AudioFileClose(file);
  }

  static OSStatus supply(AudioConverterRef, uint32_t* packets, AudioBufferList* data,
                         AudioStreamPacketDescription**, void* userData) {
    auto* r = static_cast<Reader*>(userData);
    if (r->packetCount == 0) {
      *packets = 0;
      return kAudioFileEndOfFileError;
    }
    if (r->position >= int64_t(r->packetCount)) r->position = 0;  // loop
    uint32_t n = std::min<uint32_t>(*packets, uint32_t(r->source.size() / r->format.mChannelsPerFrame));
    uint32_t bytes = uint32_t(r->source.size() * sizeof(float));
    OSStatus status = AudioFileReadPacketData(r->file, false, &bytes, nullptr, r->position, &n, r->source.data());
    if (status == noErr && n == 0 && r->position > 0) {
      // The header promised more frames than the file holds: loop at its real end.
      r->position = 0;
      n = std::min<uint32_t>(*packets, uint32_t(r->source.size() / r->format.mChannelsPerFrame));
      bytes = uint32_t(r->source.size() * sizeof(float));
      status = AudioFileReadPacketData(r->file, false, &bytes, nullptr, r->position, &n, r->source.data());
    }
    if (status != noErr || n == 0) {
      *packets = 0;
      return status != noErr ? status : kAudioFileEndOfFileError;
    }
    r->position += n;
    *packets = n;
    data->mNumberBuffers = 1;
    data->mBuffers[0].mNumberChannels = r->format.mChannelsPerFrame;
    data->mBuffers[0].mDataByteSize = bytes;
    data->mBuffers[0].mData = r->source.data();
    return noErr;
  }
};

std::shared_ptr<FileAudioInput> FileAudioInput::create(const std::string& path, OSStatus* status) {
  auto input = std::shared_ptr<FileAudioInput>(new FileAudioInput(path));
  auto reader = std::make_unique<Reader>();
  OSStatus s = AudioFileOpenURL(path, kAudioFileReadPermission, 0, &reader->file);
  uint32_t size = sizeof reader->format;
  if (s == noErr) s = AudioFileGetProperty(reader->file, kAudioFilePropertyDataFormat, &size, &reader->format);
  size = sizeof reader->packetCount;
  if (s == noErr) s = AudioFileGetProperty(reader->file, kAudioFilePropertyAudioDataPacketCount, &size, &reader->packetCount);
  AudioStreamBasicDescription mono = MakeFloatNonInterleavedFormat(1);
  if (s == noErr) s = AudioConverterNew(&reader->format, &mono, &reader->converter);
  if (s == noErr && reader->packetCount == 0) s = kAudioFileInvalidFileError;
  if (status) *status = s;
  if (s != noErr) return nullptr;
  reader->source.assign(size_t(4096) * reader->format.mChannelsPerFrame, 0.0f);
  input->reader_ = std::move(reader);
  return input;
}

uint32_t FileAudioInput::readSamples(float* samples, uint32_t frames) {
  uint32_t produced = 0;
  if (samples && frames > 0) {
    AudioBufferList list;
    list.mNumberBuffers = 1;
    list.mBuffers[0].mNumberChannels = 1;
    list.mBuffers[0].mDataByteSize = frames * sizeof(float);
    list.mBuffers[0].mData = samples;
    produced = frames;
    if (AudioConverterFillComplexBuffer(reader_->converter, Reader::supply, reader_.get(), &produced, &list,
                                        nullptr) != noErr)
      produced = 0;
    std::fill(samples + produced, samples + frames, 0.0f);
  }
  return produced;
}

OSStatus FileAudioInput::startCapture() {
  stop_.store(false);
  thread_ = std::thread([this] { run(); });
  return noErr;
}

void FileAudioInput::stopCapture() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

void FileAudioInput::run() {
  const uint32_t chunk = std::max<uint32_t>(1, AVAudioSession::sharedInstance().preferredFramesPerBuffer());
  std::vector<float> samples(chunk);
  auto next = std::chrono::steady_clock::now();
  const auto period = std::chrono::duration<double>(double(chunk) / kAudioSampleRate);
  while (!stop_.load()) {
    readSamples(samples.data(), chunk);
    deliver(samples.data(), chunk);
    next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
    std::this_thread::sleep_until(next);
  }
}

FileAudioInput::~FileAudioInput() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

FileAudioInput::FileAudioInput(std::string path) : path_(std::move(path)) {}
