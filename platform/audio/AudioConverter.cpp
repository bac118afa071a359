#include "platform/audio/AudioConverter.h"

#include <samplerate.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
constexpr uint32_t kScratchFrames = 4096;
constexpr uint32_t kMaxSourceChannels = 32;
constexpr uint32_t kInputRequestPackets = 1024;
}  // namespace

struct OpaqueAudioConverter {
  AudioStreamBasicDescription src{};
  AudioStreamBasicDescription dst{};
  uint32_t srcChannels = 1;
  bool srcInterleaved = true;
  bool resample = false;
  double ratio = 1.0;
  SRC_STATE* state = nullptr;
  std::vector<float> scratch;       // converted, interleaved, srcChannels × kScratchFrames
  std::vector<float> interleaveIn;  // non-interleaved sources are interleaved here first
  std::vector<uint8_t> cookie;
  // The unconsumed rest of the source data the input procedure handed out last.
  const float* input = nullptr;
  uint32_t inputFrames = 0;
  bool inputEnded = false;
};

OSStatus AudioConverterNew(const AudioStreamBasicDescription* s, const AudioStreamBasicDescription* d,
                           AudioConverterRef* out) {
  if (!s || !d || !out) return kAudio_ParamError;
  *out = nullptr;
  const bool srcOk = s->mFormatID == kAudioFormatLinearPCM && (s->mFormatFlags & kAudioFormatFlagIsFloat) &&
                     !(s->mFormatFlags & kAudioFormatFlagIsBigEndian) && s->mBitsPerChannel == 32 &&
                     s->mChannelsPerFrame >= 1 && s->mChannelsPerFrame <= kMaxSourceChannels &&
                     s->mSampleRate >= 1000 && s->mSampleRate <= 768000 && s->mFramesPerPacket == 1;
  const AudioFormatFlags need = kAudioFormatFlagIsFloat | kAudioFormatFlagIsNonInterleaved;
  const bool dstOk = d->mFormatID == kAudioFormatLinearPCM && (d->mFormatFlags & need) == need &&
                     d->mSampleRate == kAudioSampleRate && d->mBitsPerChannel == 32 &&
                     (d->mChannelsPerFrame == 1 || d->mChannelsPerFrame == 2);
  if (!srcOk || !dstOk) return kAudioConverterErr_FormatNotSupported;
  auto* c = new OpaqueAudioConverter();
  c->src = *s;
  c->dst = *d;
  c->srcChannels = s->mChannelsPerFrame;
  c->srcInterleaved = !(s->mFormatFlags & kAudioFormatFlagIsNonInterleaved) || c->srcChannels == 1;
  c->ratio = kAudioSampleRate / s->mSampleRate;
  c->resample = s->mSampleRate != kAudioSampleRate;
  if (c->resample) {
    int error = 0;
    c->state = src_new(SRC_SINC_FASTEST, int(c->srcChannels), &error);
    if (!c->state) {
      delete c;
      return kAudioConverterErr_FormatNotSupported;
    }
  }
  c->scratch.assign(size_t(c->srcChannels) * kScratchFrames, 0.0f);
  if (!c->srcInterleaved) c->interleaveIn.assign(size_t(c->srcChannels) * kInputRequestPackets, 0.0f);
  *out = c;
  return noErr;
}

OSStatus AudioConverterDispose(AudioConverterRef c) {
  if (!c) return kAudio_ParamError;
  if (c->state) src_delete(c->state);
  delete c;
  return noErr;
}

OSStatus AudioConverterSetProperty(AudioConverterRef c, AudioConverterPropertyID id, uint32_t size,
                                   const void* data) {
  if (!c) return kAudio_ParamError;
  if (id != kAudioConverterDecompressionMagicCookie) return kAudioUnitErr_InvalidProperty;
  if (size > 0 && !data) return kAudio_ParamError;
  const auto* bytes = static_cast<const uint8_t*>(data);
  c->cookie.assign(bytes, bytes + size);
  return noErr;
}

OSStatus AudioConverterFillComplexBuffer(AudioConverterRef c, AudioConverterComplexInputDataProc proc,
                                         void* userData, uint32_t* ioPackets, AudioBufferList* outData,
                                         AudioStreamPacketDescription*) {
  if (!c || !proc || !ioPackets || !outData) return kAudio_ParamError;
  const uint32_t want = *ioPackets;
  *ioPackets = 0;
  const uint32_t dstChannels = c->dst.mChannelsPerFrame;
  if (outData->mNumberBuffers < dstChannels) return kAudio_ParamError;
  for (uint32_t ch = 0; ch < dstChannels; ++ch) {
    const AudioBuffer& b = outData->mBuffers[ch];
    if (!b.mData || b.mDataByteSize < want * sizeof(float)) return kAudio_ParamError;
  }
  if (c->inputEnded) {
    // A fill after the end starts over with whatever the procedure supplies now.
    if (c->state) src_reset(c->state);
    c->inputEnded = false;
  }
  const uint32_t C = c->srcChannels;
  OSStatus endStatus = noErr;
  uint32_t produced = 0;
  while (produced < want) {
    if (c->inputFrames == 0 && !c->inputEnded) {
      uint32_t n = kInputRequestPackets;
      AudioBufferList list;
      list.mNumberBuffers = c->srcInterleaved ? 1 : std::min(C, AudioBufferList::kMaxBuffers);
      AudioStreamPacketDescription* descriptions = nullptr;
      OSStatus status = proc(c, &n, &list, &descriptions, userData);
      const AudioBuffer& first = list.mBuffers[0];
      if (status == noErr && n > 0 && first.mData) {
        n = std::min(n, uint32_t(first.mDataByteSize / (sizeof(float) * (c->srcInterleaved ? C : 1))));
      } else {
        n = 0;
      }
      if (n == 0) {
        c->inputEnded = true;
        endStatus = status;
      } else if (c->srcInterleaved) {
        c->input = static_cast<const float*>(first.mData);
        c->inputFrames = n;
      } else {
        n = std::min(n, kInputRequestPackets);
        for (uint32_t i = 0; i < n; ++i)
          for (uint32_t ch = 0; ch < C; ++ch) {
            const AudioBuffer& b = list.mBuffers[std::min(ch, list.mNumberBuffers - 1)];
            c->interleaveIn[size_t(i) * C + ch] = static_cast<const float*>(b.mData)[i];
          }
        c->input = c->interleaveIn.data();
        c->inputFrames = n;
      }
    }
    const uint32_t room = std::min(want - produced, kScratchFrames);
    uint32_t generated = 0;
    uint32_t used = 0;
    if (c->resample) {
      SRC_DATA data{};
      data.data_in = c->input;
      data.input_frames = c->inputFrames;
      data.data_out = c->scratch.data();
      data.output_frames = room;
      data.src_ratio = c->ratio;
      data.end_of_input = c->inputEnded ? 1 : 0;
      if (src_process(c->state, &data) != 0) {
        endStatus = kAudioConverterErr_InvalidInputSize;
        c->inputEnded = true;
        break;
      }
      used = uint32_t(data.input_frames_used);
      generated = uint32_t(data.output_frames_gen);
    } else {
      used = generated = std::min(room, c->inputFrames);
      if (generated) std::memcpy(c->scratch.data(), c->input, size_t(generated) * C * sizeof(float));
    }
    c->input += size_t(used) * C;
    c->inputFrames -= used;
    for (uint32_t ch = 0; ch < dstChannels; ++ch) {
      float* dst = static_cast<float*>(outData->mBuffers[ch].mData) + produced;
      const uint32_t from = std::min(ch, C - 1);
      for (uint32_t i = 0; i < generated; ++i) dst[i] = c->scratch[size_t(i) * C + from];
    }
    produced += generated;
    if (generated == 0 && used == 0 && c->inputEnded) break;
  }
  for (uint32_t ch = 0; ch < dstChannels; ++ch) outData->mBuffers[ch].mDataByteSize = produced * sizeof(float);
  *ioPackets = produced;
  return (produced == 0 && endStatus != noErr) ? endStatus : noErr;
}
