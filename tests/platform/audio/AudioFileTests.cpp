// Audio files and conversion to the analyser's format, on files written here with libsndfile.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/audio/AudioConverter.h"
#include "platform/audio/AudioFile.h"

namespace {

std::string writeSine(const std::string& name, int rate, int channels, double seconds, double hz) {
  std::string path = (std::filesystem::temp_directory_path() / (name + std::to_string(::getpid()) + ".wav")).string();
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(f, nullptr);
  const int frames = int(seconds * rate);
  std::vector<float> data(size_t(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      data[size_t(i) * channels + c] = float((c == 0 ? 0.5 : 0.25) * std::sin(2 * M_PI * hz * i / rate));
  sf_writef_float(f, data.data(), frames);
  sf_close(f);
  return path;
}

struct Source {
  AudioFileID file;
  int64_t position = 0;
  std::vector<float> buffer = std::vector<float>(4096);
};

OSStatus supply(AudioConverterRef, uint32_t* packets, AudioBufferList* data, AudioStreamPacketDescription**, void* user) {
  auto* s = static_cast<Source*>(user);
  uint32_t bytes = uint32_t(s->buffer.size() * sizeof(float));
  OSStatus status = AudioFileReadPacketData(s->file, false, &bytes, nullptr, s->position, packets, s->buffer.data());
  if (status != noErr) return status;
  s->position += *packets;
  data->mNumberBuffers = 1;
  data->mBuffers[0].mDataByteSize = bytes;
  data->mBuffers[0].mData = s->buffer.data();
  return noErr;
}

// Zero crossings upwards per second: the frequency of a clean sine.
double frequencyOf(const std::vector<float>& s, double rate) {
  int crossings = 0;
  for (size_t i = 1; i < s.size(); ++i)
    if (s[i - 1] < 0 && s[i] >= 0) ++crossings;
  return crossings * rate / double(s.size());
}

TEST(AudioFile, PropertiesOfAWavFile) {
  std::string path = writeSine("props", 48000, 2, 0.5, 1000);
  AudioFileID file = nullptr;
  ASSERT_EQ(AudioFileOpenURL(path, kAudioFileReadPermission, 0, &file), noErr);
  AudioStreamBasicDescription format;
  uint32_t size = sizeof format;
  ASSERT_EQ(AudioFileGetProperty(file, kAudioFilePropertyDataFormat, &size, &format), noErr);
  EXPECT_EQ(format.mSampleRate, 48000);
  EXPECT_EQ(format.mChannelsPerFrame, 2u);
  EXPECT_EQ(format.mBytesPerPacket, 8u);
  double duration = 0;
  size = sizeof duration;
  ASSERT_EQ(AudioFileGetProperty(file, kAudioFilePropertyEstimatedDuration, &size, &duration), noErr);
  EXPECT_NEAR(duration, 0.5, 1e-9);
  uint64_t packets = 0;
  size = sizeof packets;
  ASSERT_EQ(AudioFileGetProperty(file, kAudioFilePropertyAudioDataPacketCount, &size, &packets), noErr);
  EXPECT_EQ(packets, 24000u);
  // A too-small property buffer and an unknown property are refused.
  size = 2;
  EXPECT_EQ(AudioFileGetProperty(file, kAudioFilePropertyAudioDataPacketCount, &size, &packets),
            kAudioFileBadPropertySizeError);
  size = 8;
  EXPECT_EQ(AudioFileGetProperty(file, FourCC("zzzz"), &size, &packets), kAudioFileUnsupportedPropertyError);
  // Reading past the end gives no packets; reading the last packets gives only those.
  std::vector<float> buffer(64);
  uint32_t bytes = 256, n = 32;
  EXPECT_EQ(AudioFileReadPacketData(file, false, &bytes, nullptr, 23990, &n, buffer.data()), noErr);
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(bytes, 80u);
  n = 32;
  bytes = 256;
  EXPECT_EQ(AudioFileReadPacketData(file, false, &bytes, nullptr, 24000, &n, buffer.data()), noErr);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(AudioFileClose(file), noErr);
  std::filesystem::remove(path);
}

TEST(AudioFile, MissingAndCorruptFilesGiveAStatus) {
  AudioFileID file = nullptr;
  EXPECT_EQ(AudioFileOpenURL("/nonexistent/file.wav", kAudioFileReadPermission, 0, &file), kAudio_FileNotFoundError);
  EXPECT_EQ(file, nullptr);
  std::string path = (std::filesystem::temp_directory_path() / "corrupt-audio.wav").string();
  std::ofstream(path) << "RIFF this is not really audio at all";
  EXPECT_EQ(AudioFileOpenURL(path, kAudioFileReadPermission, 0, &file), kAudioFileUnsupportedFileTypeError);
  EXPECT_EQ(file, nullptr);
  std::filesystem::remove(path);
  EXPECT_EQ(AudioFileOpenURL(std::filesystem::temp_directory_path().string(), kAudioFileReadPermission, 0, &file),
            kAudioFileUnsupportedFileTypeError);
}

TEST(AudioFile, FileURLsAreDecodedAndUnreadableFilesSaySo) {
  const auto dir = std::filesystem::temp_directory_path() / ("audio dir " + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = writeSine("in dir", 44100, 1, 0.1, 1000);
  const std::string named = (dir / "a tone.wav").string();
  std::filesystem::rename(path, named);
  std::string url = "file://localhost";
  for (char c : named) url += c == ' ' ? std::string("%20") : std::string(1, c);
  AudioFileID file = nullptr;
  ASSERT_EQ(AudioFileOpenURL(url, kAudioFileReadPermission, 0, &file), noErr);
  AudioFileClose(file);
  EXPECT_EQ(AudioFileOpenURL("file://elsewhere" + named, kAudioFileReadPermission, 0, &file), kAudio_FileNotFoundError);
  if (::geteuid() != 0) {  // root reads anything
    std::filesystem::permissions(named, std::filesystem::perms::none);
    EXPECT_EQ(AudioFileOpenURL(named, kAudioFileReadPermission, 0, &file), kAudioFilePermissionsError);
  }
  std::filesystem::remove_all(dir);
}

TEST(AudioConverter, ResamplesTo44100AndKeepsTheFirstChannel) {
  std::string path = writeSine("convert", 48000, 2, 1.0, 1000);
  Source source;
  ASSERT_EQ(AudioFileOpenURL(path, kAudioFileReadPermission, 0, &source.file), noErr);
  AudioStreamBasicDescription format;
  uint32_t size = sizeof format;
  AudioFileGetProperty(source.file, kAudioFilePropertyDataFormat, &size, &format);
  auto mono = MakeFloatNonInterleavedFormat(1);
  AudioConverterRef converter = nullptr;
  ASSERT_EQ(AudioConverterNew(&format, &mono, &converter), noErr);
  std::vector<float> out;
  std::vector<float> block(512);
  for (;;) {
    uint32_t frames = 512;
    AudioBufferList list;
    list.mNumberBuffers = 1;
    list.mBuffers[0].mDataByteSize = 512 * 4;
    list.mBuffers[0].mData = block.data();
    AudioConverterFillComplexBuffer(converter, supply, &source, &frames, &list, nullptr);
    if (frames == 0) break;
    out.insert(out.end(), block.begin(), block.begin() + frames);
  }
  EXPECT_NEAR(double(out.size()), 44100.0, 100.0);  // the resampler trims a little at the edges
  std::vector<float> middle(out.begin() + 4410, out.end() - 4410);
  EXPECT_NEAR(frequencyOf(middle, 44100), 1000.0, 5.0);
  float peak = 0;
  for (float v : middle) peak = std::max(peak, std::fabs(v));
  EXPECT_NEAR(peak, 0.5f, 0.02f) << "channel 0 (amplitude 0.5), not channel 1 (0.25)";
  AudioConverterDispose(converter);
  AudioFileClose(source.file);
  std::filesystem::remove(path);
}

TEST(AudioConverter, RefusesFormatsItCannotProduce) {
  AudioStreamBasicDescription src = MakeFloatNonInterleavedFormat(1);
  AudioStreamBasicDescription dst = MakeFloatNonInterleavedFormat(1);
  dst.mSampleRate = 48000;
  AudioConverterRef c = nullptr;
  EXPECT_EQ(AudioConverterNew(&src, &dst, &c), kAudioConverterErr_FormatNotSupported);
  dst = MakeFloatNonInterleavedFormat(1);
  src.mFormatFlags = kAudioFormatFlagIsSignedInteger;
  src.mBitsPerChannel = 16;
  EXPECT_EQ(AudioConverterNew(&src, &dst, &c), kAudioConverterErr_FormatNotSupported);
  EXPECT_EQ(c, nullptr);
}

}  // namespace
