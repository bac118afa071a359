#pragma once
// Converts linear PCM float (any rate, interleaved or not, any channel count) to the analyser's
// format: 44,100 Hz, 32-bit float, non-interleaved, 1 or 2 channels. Resampling is libsamplerate's;
// channel c of the output takes source channel c (the last source channel when there are fewer).
// Everything is allocated by AudioConverterNew: filling a buffer allocates nothing.
#include <cstdint>

#include "platform/audio/AudioTypes.h"

struct OpaqueAudioConverter;
using AudioConverterRef = OpaqueAudioConverter*;
using AudioConverterPropertyID = uint32_t;

constexpr AudioConverterPropertyID kAudioConverterDecompressionMagicCookie = FourCC("dmgc");

// Supplies source packets: set *ioNumberDataPackets to what was provided (0 at the end) and point
// ioData's first buffer at the data, which must stay valid until the next call. A non-zero status
// ends the fill; it is returned when nothing was converted.
using AudioConverterComplexInputDataProc = OSStatus (*)(AudioConverterRef inAudioConverter,
                                                        uint32_t* ioNumberDataPackets,
                                                        AudioBufferList* ioData,
                                                        AudioStreamPacketDescription** outDataPacketDescription,
                                                        void* inUserData);

OSStatus AudioConverterNew(const AudioStreamBasicDescription* inSourceFormat,
                           const AudioStreamBasicDescription* inDestinationFormat,
                           AudioConverterRef* outAudioConverter);
OSStatus AudioConverterDispose(AudioConverterRef inAudioConverter);
// Only the decompression magic cookie is settable (linear PCM needs none; it is kept and ignored).
OSStatus AudioConverterSetProperty(AudioConverterRef inAudioConverter, AudioConverterPropertyID inPropertyID,
                                   uint32_t inPropertyDataSize, const void* inPropertyData);
// Fills up to *ioOutputDataPacketSize frames into outOutputData (one buffer per destination
// channel, each large enough); on return it holds the frames produced.
OSStatus AudioConverterFillComplexBuffer(AudioConverterRef inAudioConverter,
                                         AudioConverterComplexInputDataProc inInputDataProc,
                                         void* inInputDataProcUserData, uint32_t* ioOutputDataPacketSize,
                                         AudioBufferList* outOutputData,
                                         AudioStreamPacketDescription* outPacketDescription);
