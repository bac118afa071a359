#pragma once
// The remote I/O unit. A started unit with input enabled runs one render cycle per delivery of its
// input (the session's current capture backend): it calls the render callback installed on the
// input scope of element 0 with a buffer list in the element's client format, and during that
// callback AudioUnitRender on bus 1 copies the captured samples into the caller's buffers.
// With output enabled, what the callback leaves in the buffers is played: it goes through a
// lock-free ring to a stream of the session's output backend (the PulseAudio server when one
// answers); without one it is discarded. A unit with output but no input renders on the
// output stream's demand, or on a real-time clock when there is nowhere to play. Every call
// returns a status; none throws.
//
// Threads. The owner's calls may come from any thread. Initialise, start, stop, uninitialise,
// dispose and a change of the render callback are serialised by one lock of the unit, which they
// hold while they wait for a render cycle in flight; property reads and the other settings take
// a second lock, held only for a few copies and never while waiting, so they return while an owner
// waits. Render cycles run on the input's delivery thread (a capturing or duplex unit) or on the
// output stream's thread (a unit that only plays). Inside one of its own cycles the callback takes
// no lock of its unit and never waits: it may read the unit's properties (none changes while a
// cycle runs), render bus 1 and stop the unit; initialise answers noErr (the unit is
// initialised); the settings fixed while initialised are refused with kAudioUnitErr_Initialized,
// and start, uninitialise, dispose and a change of the render callback with
// kAudioUnitErr_CannotDoInCurrentContext.
#include <cstdint>

#include "platform/audio/AudioTypes.h"

struct OpaqueAudioComponent;
struct OpaqueAudioComponentInstance;
using AudioComponent = OpaqueAudioComponent*;
using AudioComponentInstance = OpaqueAudioComponentInstance*;
using AudioUnit = AudioComponentInstance;

// The next component after `inComponent` (null: the first) matching the description; only the
// remote I/O output unit exists. Null when nothing matches.
AudioComponent AudioComponentFindNext(AudioComponent inComponent, const AudioComponentDescription* inDesc);
OSStatus AudioComponentInstanceNew(AudioComponent inComponent, AudioComponentInstance* outInstance);
// Stops and uninitialises the unit if needed (waiting for a callback in flight, as a stop does),
// then frees it. Refused with kAudioUnitErr_CannotDoInCurrentContext inside the unit's callback.
OSStatus AudioComponentInstanceDispose(AudioComponentInstance inInstance);

// The I/O, stream formats and maximum frames per slice are fixed while the unit is initialised
// (kAudioUnitErr_Initialized). Whether it runs (kAudioOutputUnitProperty_IsRunning, a uint32_t) and
// why its input stopped it (kAudioUnitProperty_LastRenderError, an OSStatus) are only read. The render callback is refused while the unit runs; when its
// callback stopped it and may still be running, the change waits for that cycle first, as the
// owner's stop does.
OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, uint32_t inDataSize);
OSStatus AudioUnitGetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, void* outData, uint32_t* ioDataSize);

OSStatus AudioUnitInitialize(AudioUnit inUnit);
// Stops the unit first when it runs.
OSStatus AudioUnitUninitialize(AudioUnit inUnit);

// Joins the session's current input (input enabled) and opens the output (output enabled); fails
// with kAudioUnitErr_NoConnection when neither is enabled. After a stop from inside the callback
// it first waits for that cycle to return. Refused inside the unit's own callback
// (kAudioUnitErr_CannotDoInCurrentContext): a callback that stopped its unit cannot restart it.
// Waits for no audio server: an input whose server answers later may turn out not to capture
// after all (no server answers in time, the source is not there), or end for good. The unit then
// stops by itself: kAudioOutputUnitProperty_IsRunning reads 0, and kAudioUnitProperty_LastRenderError
// the reason, until the next start.
OSStatus AudioOutputUnitStart(AudioUnit inUnit);
// Starts `unit` in the place of `running`, a started unit: when both capture from the session's
// current input, `unit` takes `running`'s place on it between one delivery and the next (none
// lost, none reaching both), so that the input's capture goes on without a stop; *inPlace (may be
// null) is then set. Otherwise `unit` starts as with AudioOutputUnitStart. Either way `running`
// is stopped on return (as with AudioOutputUnitStop), also when `unit` could not start.
OSStatus AudioOutputUnitStartInPlaceOf(AudioUnit unit, AudioUnit running, bool* inPlace);
// From any thread but the unit's render thread: when it returns, the unit's render callback is not
// running and is not called again, also when the callback stopped the unit itself a moment before
// and has not returned yet. From inside the unit's own callback (allowed): real-time, taking no
// lock and not waiting for itself; the callback is not called again once it returns, and a stop,
// start, uninitialise, dispose or callback change from the owner still waits for it to return.
// The owner's stop and the callback's stop may come at the same moment. While the owner's stop
// waits it holds no lock that a property call takes.
OSStatus AudioOutputUnitStop(AudioUnit inUnit);

// Only inside the unit's own render callback, for bus 1: copies the cycle's captured samples into
// every buffer of ioData (each must hold inNumberFrames floats).
OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, uint32_t inOutputBusNumber,
                         uint32_t inNumberFrames, AudioBufferList* ioData);

// The largest maximum-frames-per-slice the unit accepts; larger requests are lowered to it.
constexpr uint32_t kRemoteIOMaxFramesPerSliceLimit = 16384;

// Inspection and failure injection for tests.
namespace remoteio {
int liveInstanceCount();
bool isRunning(AudioUnit unit);
bool isInitialized(AudioUnit unit);
// The next AudioComponentInstanceNew / AudioUnitInitialize / AudioOutputUnitStart fails once with
// the status.
void failNextInstanceNew(OSStatus status);
void failNextInitialize(OSStatus status);
void failNextStart(OSStatus status);
}  // namespace remoteio
