#pragma once
// The context of a capture chain's render callback. Every engine owns its own record (and a file
// player keeps its own copy), so live engines never feed each other's buffers. The fields change
// only while the chain's unit is stopped or gone.
#include <atomic>

#include "platform/audio/AudioUnit.h"

class BufferManager;
class DCRejectionFilter;

struct CallbackData {
  AudioUnit rioUnit = nullptr;
  BufferManager* bufferManager = nullptr;
  DCRejectionFilter* dcRejectionFilter = nullptr;
  const std::atomic<bool>* muteAudio = nullptr;
  const std::atomic<bool>* audioChainIsBeingReconstructed = nullptr;
};
