#pragma once
// Audio file services over libsndfile. Every readable format is presented as linear PCM: its
// packets are frames of 32-bit native float, interleaved, at the file's own sample rate and
// channel count (an AudioConverter takes them to the analyser's format).
#include <cstdint>
#include <string>

#include "platform/audio/AudioTypes.h"

struct OpaqueAudioFileID;
using AudioFileID = OpaqueAudioFileID*;
using AudioFilePropertyID = uint32_t;

constexpr int8_t kAudioFileReadPermission = 1;

constexpr AudioFilePropertyID kAudioFilePropertyDataFormat = FourCC("dfmt");
constexpr AudioFilePropertyID kAudioFilePropertyEstimatedDuration = FourCC("edur");
constexpr AudioFilePropertyID kAudioFilePropertyAudioDataPacketCount = FourCC("pcnt");
constexpr AudioFilePropertyID kAudioFilePropertyMaximumPacketSize = FourCC("psze");
constexpr AudioFilePropertyID kAudioFilePropertyPacketSizeUpperBound = FourCC("pkub");
constexpr AudioFilePropertyID kAudioFilePropertyMagicCookieData = FourCC("mgic");

// Opens a file for reading; `url` is a path or a file URL (ns::pathFromFileURL).
// kAudio_FileNotFoundError when it names no file, kAudioFilePermissionsError when the file may
// not be read, kAudioFileUnsupportedFileTypeError when it is not a regular file or not an audio
// file libsndfile can read, kAudio_ParamError for a write permission or a null out pointer.
OSStatus AudioFileOpenURL(const std::string& url, int8_t permissions, uint32_t fileTypeHint,
                          AudioFileID* outAudioFile);
OSStatus AudioFileClose(AudioFileID audioFile);
// Size of a property's value; the magic cookie has size 0 (these formats carry none).
OSStatus AudioFileGetPropertyInfo(AudioFileID audioFile, AudioFilePropertyID id, uint32_t* outDataSize,
                                  uint32_t* isWritable);
// DataFormat: AudioStreamBasicDescription; EstimatedDuration: double seconds;
// AudioDataPacketCount: uint64_t; MaximumPacketSize / PacketSizeUpperBound: uint32_t.
OSStatus AudioFileGetProperty(AudioFileID audioFile, AudioFilePropertyID id, uint32_t* ioDataSize,
                              void* outPropertyData);
// Reads up to *ioNumPackets packets from inStartingPacket (limited by *ioNumBytes) into outBuffer;
// on return both hold what was read (0 packets at or past the end). Packet descriptions, when
// asked for, describe the constant-size packets.
OSStatus AudioFileReadPacketData(AudioFileID audioFile, bool useCache, uint32_t* ioNumBytes,
                                 AudioStreamPacketDescription* outPacketDescriptions,
                                 int64_t inStartingPacket, uint32_t* ioNumPackets, void* outBuffer);
