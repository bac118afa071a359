#include "platform/audio/AudioUnit.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioInputBackend.h"
#include "platform/audio/AudioOutputBackend.h"
#include "platform/audio/ClockAudioOutput.h"
#include "platform/audio/SpscRing.h"

struct OpaqueAudioComponent {
  AudioComponentDescription description;
};

namespace {
OpaqueAudioComponent gRemoteIO{{kAudioUnitType_Output, kAudioUnitSubType_RemoteIO,
                                kAudioUnitManufacturer_System, 0, 0}};
std::atomic<int> gLiveInstances{0};
std::atomic<OSStatus> gFailNextNew{noErr};
std::atomic<OSStatus> gFailNextInitialize{noErr};
std::atomic<OSStatus> gFailNextStart{noErr};

// The render cycles running on this thread, innermost first (a callback may drive another unit),
// so that a stop from inside a unit's callback is known as one however deep it comes. Each lives
// on the stack of its runCycle.
struct RenderFrame {
  AudioUnit unit;
  const RenderFrame* outer;
};
thread_local const RenderFrame* tlsRenderFrames = nullptr;

bool renderingOnThisThread(AudioUnit unit) {
  for (const RenderFrame* frame = tlsRenderFrames; frame; frame = frame->outer)
    if (frame->unit == unit) return true;
  return false;
}

bool matches(uint32_t want, uint32_t have) { return want == 0 || want == have; }

bool isSupportedClientFormat(const AudioStreamBasicDescription& f) {
  const AudioFormatFlags required =
      kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
  return f.mSampleRate == kAudioSampleRate && f.mFormatID == kAudioFormatLinearPCM &&
         (f.mFormatFlags & required) == required && !(f.mFormatFlags & kAudioFormatFlagIsBigEndian) &&
         f.mBytesPerPacket == 4 && f.mFramesPerPacket == 1 && f.mBytesPerFrame == 4 &&
         f.mBitsPerChannel == 32 && (f.mChannelsPerFrame == 1 || f.mChannelsPerFrame == 2);
}
}  // namespace

struct OpaqueAudioComponentInstance : AudioInputSink, AudioOutputSource {
  // Two locks, neither ever taken inside one of this unit's own render cycles (a cycle's calls on
  // its unit are lock-free or refused), taken in this order:
  //   lifecycle:  serialises initialise, start, the owner's stop, uninitialise, dispose and a
  //               change of the render callback; held while they wait for a cycle in flight.
  //   properties: guards the settings below; held for a few copies only, never while waiting,
  //               so a property call from any thread returns while an owner waits for a cycle.
  std::mutex lifecycle;
  std::mutex properties;
  // The settings. A cycle reads them without a lock: they do not change while one may run. The
  // I/O, formats and frame limit are refused while the unit is initialised, and cycles run only
  // between a start and the stop that waits for them (uninitialising stops first); the callback
  // is changed only by the owner, after waiting for a cycle in flight, and never while running.
  bool inputEnabled = false;  // input scope, element 1
  bool outputEnabled = true;  // output scope, element 0
  AudioStreamBasicDescription inputClientFormat = MakeFloatNonInterleavedFormat(2);   // output scope, el. 1
  AudioStreamBasicDescription outputClientFormat = MakeFloatNonInterleavedFormat(2);  // input scope, el. 0
  uint32_t maxFramesPerSlice = 4096;
  AURenderCallbackStruct callback;
  std::atomic<bool> initialized{false};  // written under both locks
  std::atomic<bool> running{false};
  // Why the input stopped the unit after its start (noErr: it did not).
  std::atomic<OSStatus> inputFailure{noErr};
  std::shared_ptr<AudioInputBackend> backend;  // under `lifecycle`
  // The input feeding a started capturing unit, for a render or a stop inside its callback (which
  // may not touch `backend`): set before the unit joins the input, cleared once it has left and no
  // delivery runs it any more, so while a callback runs it is the input delivering to it.
  std::atomic<AudioInputBackend*> feedingInput{nullptr};

  // Render-cycle state, touched only by the thread that runs the cycles.
  std::vector<float> outputStorage;  // channels × maxFramesPerSlice, allocated by AudioUnitInitialize
  AudioBufferList outputList;
  const float* cycleInput = nullptr;
  uint32_t cycleFrames = 0;
  double outputSampleTime = 0;  // sample time of cycles driven by the output

  // Playback: every cycle's output, interleaved, goes through the ring to the output stream.
  // Both are made by AudioUnitInitialize, so a cycle never allocates.
  std::vector<float> interleaved;  // channels × maxFramesPerSlice
  std::unique_ptr<SpscRing> outputRing;
  std::atomic<bool> outputLive{false};  // an output stream drains the ring
  std::unique_ptr<AudioOutputStream> outputStream;

  // One render cycle of n frames (n ≤ maxFramesPerSlice); `input` is the captured audio, or null
  // when the output drives the cycle.
  void runCycle(const float* input, uint32_t n, const AudioTimeStamp& ts) {
    const uint32_t channels = outputClientFormat.mChannelsPerFrame;
    const RenderFrame frame{this, tlsRenderFrames};
    tlsRenderFrames = &frame;
    outputList.mNumberBuffers = channels;
    for (uint32_t c = 0; c < channels; ++c) {
      outputList.mBuffers[c].mNumberChannels = 1;
      outputList.mBuffers[c].mDataByteSize = n * sizeof(float);
      outputList.mBuffers[c].mData = outputStorage.data() + size_t(c) * maxFramesPerSlice;
    }
    cycleInput = input;
    cycleFrames = n;
    AudioUnitRenderActionFlags flags = 0;
    OSStatus status = noErr;
    AudioTimeStamp cycleStamp = ts;
    // Read once: after a callback that stopped its unit returns, the owner may already be
    // replacing it (the change waits for this cycle, which must not read it again after that).
    const AURenderCallbackStruct cycleCallback = callback;
    if (cycleCallback.inputProc)
      status = cycleCallback.inputProc(cycleCallback.inputProcRefCon, &flags, &cycleStamp, 0, n, &outputList);
    if (status != noErr || !cycleCallback.inputProc) {
      for (uint32_t c = 0; c < channels; ++c)
        std::memset(outputStorage.data() + size_t(c) * maxFramesPerSlice, 0, n * sizeof(float));
    }
    cycleInput = nullptr;
    cycleFrames = 0;
    tlsRenderFrames = frame.outer;
    if (outputLive.load(std::memory_order_acquire) && outputRing) {
      for (uint32_t c = 0; c < channels; ++c) {
        const float* plane = outputStorage.data() + size_t(c) * maxFramesPerSlice;
        for (uint32_t i = 0; i < n; ++i) interleaved[size_t(i) * channels + c] = plane[i];
      }
      outputRing->write(interleaved.data(), size_t(n) * channels);  // a full ring drops the rest
    }
  }

  void audioInputDidCapture(const float* samples, uint32_t frames, const AudioTimeStamp& ts) override {
    uint32_t offset = 0;
    // A callback that stopped its unit is not called again, not even for the rest of this delivery.
    while (offset < frames && running.load(std::memory_order_acquire)) {
      const uint32_t n = std::min(frames - offset, maxFramesPerSlice);
      AudioTimeStamp cycleStamp = ts;
      cycleStamp.mSampleTime += offset;
      runCycle(samples + offset, n, cycleStamp);
      offset += n;
    }
  }

  // The input could not start after all, or ended: the unit no longer runs. Lock-free (the input
  // holds its own lock); the owner's next stop, start or disposal lets go of the input and output.
  void audioInputDidFail(OSStatus status) override {
    inputFailure.store(status);
    running.store(false, std::memory_order_release);
  }

  // The output stream's thread. A unit without input renders here, on the output's demand; a
  // capturing unit has rendered on its input's thread and the ring only hands that on.
  void renderOutput(float* out, uint32_t frames) override {
    const uint32_t channels = outputClientFormat.mChannelsPerFrame;
    const size_t wanted = size_t(frames) * channels;
    if (!inputEnabled) {
      while (running.load(std::memory_order_acquire) && outputRing->readable() < wanted) {
        const uint32_t n = std::min(uint32_t((wanted - outputRing->readable()) / channels), maxFramesPerSlice);
        if (n == 0) break;
        AudioTimeStamp ts;
        ts.mSampleTime = outputSampleTime;
        ts.mHostTime = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
        ts.mFlags = kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid;
        runCycle(nullptr, n, ts);
        outputSampleTime += n;
      }
    }
    const size_t got = outputRing->read(out, wanted);
    if (got < wanted) std::memset(out + got, 0, (wanted - got) * sizeof(float));
  }

  // With `lifecycle` held (and not `properties`), outside the unit's own cycles.
  OSStatus stopLocked() {
    // Removing the sink waits for a cycle in flight (also one whose callback already stopped the
    // unit from inside), and closing the output stream for a pull in flight, so the callback's
    // context may be freed, and the callback replaced, after.
    if (backend) backend->removeSink(this);
    feedingInput.store(nullptr);
    backend.reset();
    outputStream.reset();
    outputLive.store(false);
    running.store(false);
    return noErr;
  }
};

AudioComponent AudioComponentFindNext(AudioComponent inComponent, const AudioComponentDescription* d) {
  if (!d || inComponent) return nullptr;
  const auto& have = gRemoteIO.description;
  if (matches(d->componentType, have.componentType) && matches(d->componentSubType, have.componentSubType) &&
      matches(d->componentManufacturer, have.componentManufacturer))
    return &gRemoteIO;
  return nullptr;
}

OSStatus AudioComponentInstanceNew(AudioComponent inComponent, AudioComponentInstance* outInstance) {
  if (!outInstance) return kAudio_ParamError;
  *outInstance = nullptr;
  if (inComponent != &gRemoteIO) return kAudio_ParamError;
  if (OSStatus failure = gFailNextNew.exchange(noErr); failure != noErr) return failure;
  *outInstance = new OpaqueAudioComponentInstance();
  gLiveInstances.fetch_add(1);
  return noErr;
}

OSStatus AudioComponentInstanceDispose(AudioComponentInstance unit) {
  if (!unit) return kAudio_ParamError;
  if (renderingOnThisThread(unit)) return kAudioUnitErr_CannotDoInCurrentContext;
  {
    std::lock_guard<std::mutex> lifecycle(unit->lifecycle);
    unit->stopLocked();
    std::lock_guard<std::mutex> properties(unit->properties);
    unit->initialized.store(false);
  }
  delete unit;
  gLiveInstances.fetch_sub(1);
  return noErr;
}

namespace {
// Replaces the render callback. Refused while the unit runs, and from inside one of its own cycles
// (the callback that runs would be replaced under itself). A callback that stopped its unit may
// still be running: the change completes that stop first, waiting for the cycle to return.
OSStatus setRenderCallback(AudioUnit unit, AudioUnitScope scope, AudioUnitElement element, const void* data,
                           uint32_t size) {
  if (!data || size != sizeof(AURenderCallbackStruct)) return kAudio_ParamError;
  if (scope != kAudioUnitScope_Input) return kAudioUnitErr_InvalidScope;
  if (element != 0) return kAudioUnitErr_InvalidElement;
  if (renderingOnThisThread(unit)) return kAudioUnitErr_CannotDoInCurrentContext;
  std::lock_guard<std::mutex> lifecycle(unit->lifecycle);
  if (unit->running.load()) return kAudioUnitErr_CannotDoInCurrentContext;
  unit->stopLocked();
  std::lock_guard<std::mutex> properties(unit->properties);
  std::memcpy(&unit->callback, data, sizeof unit->callback);
  return noErr;
}
}  // namespace

OSStatus AudioUnitSetProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                              AudioUnitElement element, const void* data, uint32_t size) {
  if (!unit) return kAudio_ParamError;
  if (id == kAudioUnitProperty_SetRenderCallback) return setRenderCallback(unit, scope, element, data, size);
  // Inside one of its own cycles the unit is initialised, so every setting below is refused before
  // anything is written: the render thread takes no lock.
  std::unique_lock<std::mutex> lock(unit->properties, std::defer_lock);
  if (!renderingOnThisThread(unit)) lock.lock();
  switch (id) {
    case kAudioOutputUnitProperty_IsRunning:
    case kAudioUnitProperty_LastRenderError:
      return kAudioUnitErr_PropertyNotWritable;
    case kAudioOutputUnitProperty_EnableIO: {
      if (!data || size != sizeof(uint32_t)) return kAudio_ParamError;
      if (unit->initialized) return kAudioUnitErr_Initialized;
      uint32_t value;
      std::memcpy(&value, data, sizeof value);
      if (scope == kAudioUnitScope_Input && element == 1) unit->inputEnabled = value != 0;
      else if (scope == kAudioUnitScope_Output && element == 0) unit->outputEnabled = value != 0;
      else return kAudioUnitErr_InvalidElement;
      return noErr;
    }
    case kAudioUnitProperty_StreamFormat: {
      if (!data || size != sizeof(AudioStreamBasicDescription)) return kAudio_ParamError;
      if (unit->initialized) return kAudioUnitErr_Initialized;
      AudioStreamBasicDescription f;
      std::memcpy(&f, data, sizeof f);
      if (!isSupportedClientFormat(f)) return kAudioUnitErr_FormatNotSupported;
      if (scope == kAudioUnitScope_Output && element == 1) unit->inputClientFormat = f;
      else if (scope == kAudioUnitScope_Input && element == 0) unit->outputClientFormat = f;
      else if (scope == kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
      else return kAudioUnitErr_InvalidElement;
      return noErr;
    }
    case kAudioUnitProperty_MaximumFramesPerSlice: {
      if (!data || size != sizeof(uint32_t)) return kAudio_ParamError;
      if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
      if (element != 0) return kAudioUnitErr_InvalidElement;
      if (unit->initialized) return kAudioUnitErr_Initialized;
      uint32_t value;
      std::memcpy(&value, data, sizeof value);
      if (value == 0) return kAudioUnitErr_InvalidPropertyValue;
      unit->maxFramesPerSlice = std::min(value, kRemoteIOMaxFramesPerSliceLimit);
      return noErr;
    }
    default:
      return kAudioUnitErr_InvalidProperty;
  }
}

OSStatus AudioUnitGetProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                              AudioUnitElement element, void* outData, uint32_t* ioSize) {
  if (!unit || !outData || !ioSize) return kAudio_ParamError;
  // Inside one of its own cycles the settings cannot change (see the instance): read without a
  // lock, as the render thread must.
  std::unique_lock<std::mutex> lock(unit->properties, std::defer_lock);
  if (!renderingOnThisThread(unit)) lock.lock();
  auto put = [&](const void* value, uint32_t size) -> OSStatus {
    if (*ioSize < size) return kAudio_ParamError;
    std::memcpy(outData, value, size);
    *ioSize = size;
    return noErr;
  };
  switch (id) {
    case kAudioOutputUnitProperty_EnableIO: {
      uint32_t value;
      if (scope == kAudioUnitScope_Input && element == 1) value = unit->inputEnabled;
      else if (scope == kAudioUnitScope_Output && element == 0) value = unit->outputEnabled;
      else return kAudioUnitErr_InvalidElement;
      return put(&value, sizeof value);
    }
    case kAudioUnitProperty_StreamFormat:
      if (scope == kAudioUnitScope_Output && element == 1)
        return put(&unit->inputClientFormat, sizeof(AudioStreamBasicDescription));
      if (scope == kAudioUnitScope_Input && element == 0)
        return put(&unit->outputClientFormat, sizeof(AudioStreamBasicDescription));
      return kAudioUnitErr_InvalidElement;
    case kAudioUnitProperty_MaximumFramesPerSlice:
      if (scope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
      return put(&unit->maxFramesPerSlice, sizeof(uint32_t));
    case kAudioUnitProperty_SetRenderCallback:
      return put(&unit->callback, sizeof(AURenderCallbackStruct));
    case kAudioOutputUnitProperty_IsRunning: {
      const uint32_t value = unit->running.load(std::memory_order_acquire) ? 1 : 0;
      return put(&value, sizeof value);
    }
    case kAudioUnitProperty_LastRenderError: {
      const OSStatus value = unit->inputFailure.load();
      return put(&value, sizeof value);
    }
    default:
      return kAudioUnitErr_InvalidProperty;
  }
}

OSStatus AudioUnitInitialize(AudioUnit unit) {
  if (!unit) return kAudio_ParamError;
  // A unit whose cycle runs is initialised; the render thread takes no lock to say so.
  if (renderingOnThisThread(unit)) return noErr;
  std::lock_guard<std::mutex> lifecycle(unit->lifecycle);
  std::lock_guard<std::mutex> properties(unit->properties);
  if (unit->initialized.load()) return noErr;
  if (OSStatus failure = gFailNextInitialize.exchange(noErr); failure != noErr) return failure;
  const size_t planeSamples = size_t(unit->outputClientFormat.mChannelsPerFrame) * unit->maxFramesPerSlice;
  unit->outputStorage.assign(planeSamples, 0.0f);
  if (unit->outputEnabled) {
    unit->interleaved.assign(planeSamples, 0.0f);
    // Room for a few slices and the playback stream's whole queue.
    unit->outputRing = std::make_unique<SpscRing>(
        size_t(unit->outputClientFormat.mChannelsPerFrame) * (4 * unit->maxFramesPerSlice + 8192));
  }
  unit->initialized.store(true);
  return noErr;
}

OSStatus AudioUnitUninitialize(AudioUnit unit) {
  if (!unit) return kAudio_ParamError;
  if (renderingOnThisThread(unit)) return kAudioUnitErr_CannotDoInCurrentContext;
  std::lock_guard<std::mutex> lifecycle(unit->lifecycle);
  unit->stopLocked();
  {
    std::lock_guard<std::mutex> properties(unit->properties);
    unit->initialized.store(false);
  }
  // No cycle runs any more: its buffers can go.
  std::vector<float>().swap(unit->outputStorage);
  std::vector<float>().swap(unit->interleaved);
  unit->outputRing.reset();
  return noErr;
}

namespace {
// With `unit`'s lifecycle lock held (and `replaced`'s, when there is one): the start of
// AudioOutputUnitStart, joining the input in `replaced`'s place when that runs on it.
OSStatus startLocked(AudioUnit unit, AudioUnit replaced, bool* inPlace) {
  if (inPlace) *inPlace = false;
  if (!unit->initialized.load()) return kAudioUnitErr_Uninitialized;
  if (unit->running.load()) return noErr;
  if (OSStatus failure = gFailNextStart.exchange(noErr); failure != noErr) return failure;
  // A unit that was stopped from inside its own callback, or by its input, may still hold its
  // input and output.
  unit->stopLocked();
  unit->inputFailure.store(noErr);
  if (!unit->inputEnabled && !unit->outputEnabled) return kAudioUnitErr_NoConnection;
  OSStatus status = noErr;
  unit->running.store(true);
  if (unit->outputEnabled) {
    unit->outputRing->clear();  // nothing produces into it while the unit is stopped
    unit->outputLive.store(true);
  }
  // A capturing unit renders on its input's deliveries.
  if (unit->inputEnabled) {
    auto backend = AVAudioSession::sharedInstance().inputBackend(&status);
    if (!backend) {
      unit->stopLocked();
      return status != noErr ? status : kAudioUnitErr_NoConnection;
    }
    unit->backend = backend;
    unit->feedingInput.store(backend.get());
    const bool takesPlace = replaced && replaced->running.load() && replaced->backend == backend;
    status = takesPlace ? backend->replaceSink(replaced, unit) : backend->addSink(unit);
    if (status == noErr && inPlace) *inPlace = takesPlace;
    if (status != noErr) {
      unit->backend.reset();
      unit->stopLocked();
      // The session started the capture for this unit; with nobody else on it, it ends again.
      backend->stopCapturingIfIdle();
      return status;
    }
  }
  if (unit->outputEnabled) {
    const uint32_t channels = unit->outputClientFormat.mChannelsPerFrame;
    const uint32_t perPull =
        std::min(AVAudioSession::sharedInstance().preferredFramesPerBuffer(), unit->maxFramesPerSlice);
    OSStatus outputStatus = noErr;
    if (auto output = AVAudioSession::sharedInstance().outputBackend())
      unit->outputStream = output->openStream(unit, channels, perPull, &outputStatus);
    if (!unit->outputStream) {
      if (unit->inputEnabled) {
        // Nowhere to play: the capture runs on and its output is discarded.
        unit->outputLive.store(false);
      } else {
        // Nothing is heard, but the unit still runs at the speed it would be heard.
        unit->outputStream = ClockAudioOutput::open(unit, channels, perPull);
        if (!unit->outputStream) {
          unit->stopLocked();
          return kAudioUnitErr_NoConnection;
        }
      }
    }
  }
  return noErr;
}
}  // namespace

OSStatus AudioOutputUnitStart(AudioUnit unit) {
  if (!unit) return kAudio_ParamError;
  // From inside its own cycle a start would wait for that cycle (a capture's removal), or close
  // the output stream that runs it from the stream's own thread: refused.
  if (renderingOnThisThread(unit)) return kAudioUnitErr_CannotDoInCurrentContext;
  std::lock_guard<std::mutex> lifecycle(unit->lifecycle);
  return startLocked(unit, nullptr, nullptr);
}

OSStatus AudioOutputUnitStartInPlaceOf(AudioUnit unit, AudioUnit running, bool* inPlace) {
  if (inPlace) *inPlace = false;
  if (!running || running == unit) return AudioOutputUnitStart(unit);
  if (!unit) {
    AudioOutputUnitStop(running);
    return kAudio_ParamError;
  }
  if (renderingOnThisThread(unit) || renderingOnThisThread(running)) return kAudioUnitErr_CannotDoInCurrentContext;
  std::scoped_lock lifecycles(unit->lifecycle, running->lifecycle);
  const OSStatus status = startLocked(unit, running, inPlace);
  // The unit it replaced has left the input (a delivery to it may still run: the stop waits), or
  // still listens when the new one could not start: a start in its place stops it either way.
  running->stopLocked();
  return status;
}

OSStatus AudioOutputUnitStop(AudioUnit unit) {
  if (!unit) return kAudio_ParamError;
  if (renderingOnThisThread(unit)) {
    // From inside the unit's own callback, on the audio thread: real-time, so no lock, no
    // allocation and no wait for ourselves. The unit's locks are not taken (an owner stopping at
    // the same moment holds its lifecycle lock while it waits for this very cycle), and nothing the
    // owner changes under them is touched: the feeding input is an atomic that stays set until
    // that owner's wait is over. Leaving the input from inside its delivery is a compare-and-swap on the sink's slot.
    // The owner's next stop, start or disposal still waits for this cycle to end; the output
    // stream pulls silence until one of them closes it.
    unit->running.store(false, std::memory_order_release);
    if (AudioInputBackend* input = unit->feedingInput.load(std::memory_order_acquire)) input->removeSink(unit);
    return noErr;
  }
  // The wait for a cycle in flight holds only the lifecycle lock: the cycle's property calls, and
  // anyone else's, go on meanwhile.
  std::lock_guard<std::mutex> lifecycle(unit->lifecycle);
  return unit->stopLocked();
}

OSStatus AudioUnitRender(AudioUnit unit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, uint32_t bus, uint32_t frames,
                         AudioBufferList* ioData) {
  if (!unit || !ioData || !inTimeStamp) return kAudio_ParamError;
  // Only the innermost cycle on this thread, the one whose callback is running, may render.
  if (!tlsRenderFrames || tlsRenderFrames->unit != unit) return kAudioUnitErr_CannotDoInCurrentContext;
  if (bus != 1 || !unit->inputEnabled) return kAudioUnitErr_InvalidElement;
  if (!unit->cycleInput) return kAudioUnitErr_CannotDoInCurrentContext;
  if (frames > unit->cycleFrames || ioData->mNumberBuffers == 0 ||
      ioData->mNumberBuffers > AudioBufferList::kMaxBuffers)
    return kAudio_ParamError;
  if (AudioInputBackend* input = unit->feedingInput.load(std::memory_order_acquire)) {
    if (OSStatus injected = input->renderStatus(); injected != noErr) return injected;
  }
  for (uint32_t b = 0; b < ioData->mNumberBuffers; ++b) {
    AudioBuffer& buffer = ioData->mBuffers[b];
    if (!buffer.mData || buffer.mDataByteSize < frames * sizeof(float)) return kAudio_ParamError;
  }
  for (uint32_t b = 0; b < ioData->mNumberBuffers; ++b) {
    AudioBuffer& buffer = ioData->mBuffers[b];
    std::memcpy(buffer.mData, unit->cycleInput, frames * sizeof(float));
    buffer.mDataByteSize = frames * sizeof(float);
  }
  return noErr;
}

namespace remoteio {
int liveInstanceCount() { return gLiveInstances.load(); }
bool isRunning(AudioUnit unit) { return unit && unit->running.load(); }
bool isInitialized(AudioUnit unit) { return unit && unit->initialized.load(); }
void failNextInstanceNew(OSStatus status) { gFailNextNew.store(status); }
void failNextInitialize(OSStatus status) { gFailNextInitialize.store(status); }
void failNextStart(OSStatus status) { gFailNextStart.store(status); }
}  // namespace remoteio
