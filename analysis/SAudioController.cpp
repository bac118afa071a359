#include "analysis/SAudioController.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "analysis/BufferManager.h"
#include "analysis/CAXException.h"
#include "analysis/DCRejectionFilter.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSRunLoop.h"

AudioSessionService& AudioSessionService::sharedService() {
  static dispatch_once_t once;
  static AudioSessionService* service = nullptr;
  dispatch_once(once, [] { service = new AudioSessionService(); });
  return *service;
}

void AudioSessionService::setupSessionForRecording() {
  AVAudioSession& session = AVAudioSession::sharedInstance();
  NSErrorRef error;
  session.setCategory(AVAudioSessionCategoryPlayAndRecord,
                      AVAudioSessionCategoryOptionMixWithOthers | AVAudioSessionCategoryOptionAllowBluetooth |
                          AVAudioSessionCategoryOptionDefaultToSpeaker,
                      &error);
  session.setMode(AVAudioSessionModeMeasurement, &error);
  session.setPreferredIOBufferDuration(0.005, &error);
  session.setPreferredSampleRate(44100, &error);
  session.setActive(true, &error);
}

SAudioController::SAudioController() : callbackData_(std::make_unique<CallbackData>()) {}

std::shared_ptr<SAudioController> SAudioController::create() {
  auto engine = std::shared_ptr<SAudioController>(new SAudioController());
  engine->setupAudioChain();
  return engine;
}

SAudioController::~SAudioController() {
  cancelInputRetry();
  stopInputWatch();
  interruptionObserver_.reset();
  routeChangeObserver_.reset();
  mediaResetObserver_.reset();
  if (recorder_) recorder_->stop();
  teardownChain();
}

void SAudioController::setupAudioSession() {
  auto& center = NSNotificationCenter::defaultCenter();
  const void* session = AVAudioSession::sharedInstance().notificationObject();
  std::weak_ptr<SAudioController> weak = weak_from_this();
  // Replacing the tokens ends the earlier observations, so a rebuild never doubles the handlers.
  interruptionObserver_ = center.addObserverForName(AVAudioSessionInterruptionNotification, session, nullptr,
                                                    [weak](const NSNotification& n) {
                                                      if (auto self = weak.lock()) self->handleInterruption(n);
                                                    });
  routeChangeObserver_ = center.addObserverForName(AVAudioSessionRouteChangeNotification, session, nullptr,
                                                   [weak](const NSNotification& n) {
                                                     if (auto self = weak.lock()) self->handleRouteChange(n);
                                                   });
  mediaResetObserver_ = center.addObserverForName(AVAudioSessionMediaServicesWereResetNotification, session,
                                                  nullptr, [weak](const NSNotification& n) {
                                                    if (auto self = weak.lock()) self->handleMediaServerReset(n);
                                                  });
  AudioSessionService::sharedService().setupSessionForRecording();
}

void SAudioController::setupAudioChain() {
  setupAudioSession();
  setupIOUnit();
}

void SAudioController::setupIOUnit() {
  auFilePlayer_.reset();
  setupMicIOUnit();
}

void SAudioController::disposeUnit(AudioUnit& unit) {
  if (!unit) return;
  AudioOutputUnitStop(unit);
  AudioUnitUninitialize(unit);
  AudioComponentInstanceDispose(unit);
  unit = nullptr;
}

void SAudioController::disposeMicUnit() { disposeUnit(rioUnit_); }

void SAudioController::teardownChain() {
  cancelInputRetry();     // the unit it would start goes now
  stopInputWatch();
  auFilePlayer_.reset();  // its destructor disposes of its unit first
  disposeMicUnit();
  *callbackData_ = CallbackData{};
  bufferManager_.reset();
  dcRejectionFilter_.reset();
}

void SAudioController::setupMicIOUnit() {
  // A unit that already exists feeds the buffers about to be replaced: it goes first.
  disposeMicUnit();
  *callbackData_ = CallbackData{};
  bufferManager_.reset();
  dcRejectionFilter_.reset();
  try {
    AudioComponentDescription desc;
    desc.componentType = kAudioUnitType_Output;
    desc.componentSubType = kAudioUnitSubType_RemoteIO;
    desc.componentManufacturer = kAudioUnitManufacturer_System;
    AudioComponent component = AudioComponentFindNext(nullptr, &desc);
    XThrowIfError(AudioComponentInstanceNew(component, &rioUnit_), "couldn't create a new instance of AURemoteIO");

    uint32_t one = 1;
    XThrowIfError(AudioUnitSetProperty(rioUnit_, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &one,
                                       sizeof one),
                  "could not enable input on AURemoteIO");
    XThrowIfError(AudioUnitSetProperty(rioUnit_, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0,
                                       &one, sizeof one),
                  "could not enable output on AURemoteIO");

    AudioStreamBasicDescription format = MakeFloatNonInterleavedFormat(1);
    XThrowIfError(AudioUnitSetProperty(rioUnit_, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1,
                                       &format, sizeof format),
                  "couldn't set the input client format on AURemoteIO");
    XThrowIfError(AudioUnitSetProperty(rioUnit_, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0,
                                       &format, sizeof format),
                  "couldn't set the output client format on AURemoteIO");

    uint32_t maxFramesPerSlice = mathParams_.frameSize > 0 ? uint32_t(mathParams_.frameSize) : 0;
    XThrowIfError(AudioUnitSetProperty(rioUnit_, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                                       &maxFramesPerSlice, sizeof maxFramesPerSlice),
                  "couldn't set max frames per slice on AURemoteIO");
    uint32_t size = sizeof maxFramesPerSlice;
    XThrowIfError(AudioUnitGetProperty(rioUnit_, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                                       &maxFramesPerSlice, &size),
                  "couldn't get max frames per slice on AURemoteIO");

    // The frame length is the slice size the unit accepted. One the FFT cannot use leaves the
    // chain without a buffer manager: the chart then computes nothing.
    bufferManager_ = BufferManager::create(maxFramesPerSlice);
    if (!bufferManager_) throw CAXException("couldn't create the buffer manager", kAudio_ParamError);
    dcRejectionFilter_ = std::make_unique<DCRejectionFilter>();

    callbackData_->rioUnit = rioUnit_;
    callbackData_->bufferManager = bufferManager_.get();
    callbackData_->dcRejectionFilter = dcRejectionFilter_.get();
    callbackData_->muteAudio = &muteAudio_;
    callbackData_->audioChainIsBeingReconstructed = &audioChainIsBeingReconstructed_;

    AURenderCallbackStruct callback;
    callback.inputProc = micRenderCallback;
    callback.inputProcRefCon = callbackData_.get();
    XThrowIfError(AudioUnitSetProperty(rioUnit_, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                       &callback, sizeof callback),
                  "couldn't set render callback on AURemoteIO");

    XThrowIfError(AudioUnitInitialize(rioUnit_), "couldn't initialize AURemoteIO instance");
  } catch (const CAXException& e) {
    NSLog("Error returned from setupIOUnit: %d: %s", int(e.mError), e.mOperation);
  } catch (...) {
    NSLog("Unknown error returned from setupIOUnit");
  }
}

bool SAudioController::setupFileIOUnit(NSErrorRef* error) {
  const uint32_t frameSize = mathParams_.frameSize > 0 ? uint32_t(mathParams_.frameSize) : 0;
  auto manager = BufferManager::create(frameSize);
  if (!manager) {
    if (error)
      *error = NSError::errorWithDomain(AUFilePlayerErrorDomain, kAudio_ParamError,
                                        Value{{NSLocalizedDescriptionKey, "The frame size cannot be analysed."}});
    return false;
  }
  auto filter = std::make_unique<DCRejectionFilter>();
  CallbackData data;
  data.rioUnit = rioUnit_;
  data.bufferManager = manager.get();
  data.dcRejectionFilter = filter.get();
  data.muteAudio = &muteAudio_;
  data.audioChainIsBeingReconstructed = &audioChainIsBeingReconstructed_;
  auto player = AUFilePlayer::create(fileUrl_, data, error);
  if (!player) return false;  // the microphone chain keeps running on its own buffers

  // The file chain replaces the microphone chain: its unit and buffers go before the new ones.
  teardownChain();
  bufferManager_ = std::move(manager);
  dcRejectionFilter_ = std::move(filter);
  *callbackData_ = data;
  callbackData_->rioUnit = nullptr;
  auFilePlayer_ = std::move(player);
  noteInputChanged();
  setAudioInputProblem("", false);  // the file is the input now
  return true;
}

OSStatus SAudioController::startIOUnit() {
  captureStarted_ = true;
  if (auFilePlayer_) {
    const OSStatus status = auFilePlayer_->play();
    // The file is the input: one that cannot play gives nothing to measure.
    setAudioInputProblem(status == noErr ? "" : "the audio file cannot be played (" + FormatOSStatus(status) + ")",
                         false);
    return status;
  }
  return startIOUnitInPlaceOf(nullptr, nullptr);
}

OSStatus SAudioController::startIOUnitInPlaceOf(AudioUnit running, bool* inPlace) {
  captureStarted_ = true;
  OSStatus status = AudioOutputUnitStartInPlaceOf(rioUnit_, running, inPlace);
  noteStartResult(status);
  return status;
}

void SAudioController::noteStartResult(OSStatus status) {
  // A chart may be stopped and started again and again: the same failure is logged once, until
  // the input has delivered.
  if (status != noErr && status != failedStartStatus_) NSLog("couldn't start AURemoteIO: %d", int(status));
  if (status != noErr) failedStartStatus_ = status;
  noteCaptureStart(status);
}

bool SAudioController::unitStoppedByItsInput(OSStatus* status) const {
  uint32_t running = 1;
  uint32_t size = sizeof running;
  if (!rioUnit_ || AudioUnitGetProperty(rioUnit_, kAudioOutputUnitProperty_IsRunning, kAudioUnitScope_Global, 0,
                                        &running, &size) != noErr || running)
    return false;
  OSStatus failure = noErr;
  size = sizeof failure;
  AudioUnitGetProperty(rioUnit_, kAudioUnitProperty_LastRenderError, kAudioUnitScope_Global, 0, &failure, &size);
  *status = failure != noErr ? failure : kAudioUnitErr_NoConnection;
  return true;
}

void SAudioController::noteCaptureStart(OSStatus status) {
  if (status == noErr) {
    cancelInputRetry();
    // Another source may have been chosen while the chain was stopped, in a way no route change
    // told of (the desktop's default input): the capture says which it reads.
    if (inputStalledAtStop_ && AVAudioSession::sharedInstance().currentInputUID() != stalledInput_)
      inputStalledAtStop_ = false;
    // The unit runs, but its input has not shown yet that it captures: the audio server answers a
    // start later, and may not after all. Whatever was said of the input (a start that failed, an
    // input that delivers nothing) stays until samples come; the watch says so, or that the start
    // failed after all.
    startInputWatch();
    return;
  }
  inputStalledAtStop_ = false;  // the input is missing for another reason now
  stopInputWatch();
  if (!rioUnit_) {
    // The chain could not be set up (logged by setupMicIOUnit); waiting will not change that.
    cancelInputRetry();
    setAudioInputProblem("the capture unit could not be set up (" + FormatOSStatus(status) + ")", false);
    return;
  }
  const bool retry = AVAudioSession::isTransientInputFailure(status);
  if (retry && !inputRetryTimer_) {
    inputRetryTimer_ = repeatingTimer(kInputRetryInterval, &SAudioController::retryAudioInput);
  } else if (!retry) {
    cancelInputRetry();
  }
  setAudioInputProblem(AVAudioSession::sharedInstance().describeInputProblem(status), retry);
}

void SAudioController::retryAudioInput() {
  if (!rioUnit_ || auFilePlayer_) {
    cancelInputRetry();
    return;
  }
  // Straight to the unit: the start failure was logged once, not once a second.
  noteCaptureStart(remoteio::isRunning(rioUnit_) ? noErr : AudioOutputUnitStart(rioUnit_));
}

void SAudioController::cancelInputRetry() {
  if (!inputRetryTimer_) return;
  inputRetryTimer_->invalidate();
  inputRetryTimer_.reset();
}

void SAudioController::startInputWatch() {
  if (inputWatchTimer_) return;
  watchedSamples_ = bufferManager_ ? bufferManager_->framesDelivered() : 0;
  lastDeliverySeen_ = Clock::monotonic();
  deliveredSinceStart_ = false;
  watchedInput_ = AVAudioSession::sharedInstance().currentInputUID();
  inputWatchTimer_ = repeatingTimer(kInputWatchInterval, &SAudioController::watchInput);
  // It delivered nothing when the chain stopped (and nothing since it last started): a capture
  // that can deliver does within a block of its server's, so the start says at once whether it
  // still delivers nothing.
  if (inputStalledAtStop_) armStalledInputRecheck();
}

std::optional<double> SAudioController::stalledInputRecheckDue() const {
  // Counted from when the capture could first deliver, not from the start: the audio server makes
  // the stream meanwhile, which a busy machine may take a while to do.
  const auto deliverable = AVAudioSession::sharedInstance().currentInputDeliverableSince();
  if (!deliverable) return std::nullopt;
  return std::max(*deliverable, lastDeliverySeen_) + kStalledInputRecheck;
}

void SAudioController::armStalledInputRecheck() {
  const auto due = stalledInputRecheckDue();
  const double in = due ? std::max(*due - Clock::monotonic(), 0.0) : kStalledInputRecheckPoll;
  std::weak_ptr<SAudioController> weak = weak_from_this();
  stalledRecheckTimer_ = NSTimer::scheduledTimerWithTimeInterval(in, false, [weak](NSTimer&) {
    auto self = weak.lock();
    if (!self || !self->inputWatchTimer_) return;
    self->watchInput();
    // Not looked at yet: the stream it will deliver from was still being made.
    if (self->inputWatchTimer_ && self->inputStalledAtStop_ && !self->deliveredSinceStart_ &&
        self->audioInputProblem_ != kInputDeliversNothing)
      self->armStalledInputRecheck();
  });
}

std::shared_ptr<NSTimer> SAudioController::repeatingTimer(double interval, void (SAudioController::*action)()) {
  // The timer holds the engine weakly and ends itself once the engine is gone.
  std::weak_ptr<SAudioController> weak = weak_from_this();
  return NSTimer::scheduledTimerWithTimeInterval(interval, true, [weak, action](NSTimer& timer) {
    if (auto self = weak.lock()) {
      ((*self).*action)();
    } else {
      timer.invalidate();
    }
  });
}

void SAudioController::stopInputWatch() {
  if (stalledRecheckTimer_) {
    stalledRecheckTimer_->invalidate();
    stalledRecheckTimer_.reset();
  }
  if (!inputWatchTimer_) return;
  inputWatchTimer_->invalidate();
  inputWatchTimer_.reset();
}

namespace {
// A timer set for an instant finds the clock there give or take a rounding.
constexpr double kTimerSlack = 1e-6;
}  // namespace

void SAudioController::noteInputChanged() { inputStalledAtStop_ = false; }

void SAudioController::followCapturedInput() {
  if (!inputWatchTimer_) return;  // a start looks at what it captures (noteCaptureStart)
  const std::string current = AVAudioSession::sharedInstance().currentInputUID();
  if (current == watchedInput_) return;
  // The capture reads another input than the one watched (the server moved it to the desktop's
  // new default input, another was chosen): a new input from here on, which may take a while to
  // deliver its first samples. Whatever was delivered up to now is the input before's, or came
  // before the move was seen: none of it counts as the new input's, nor is shown as current.
  watchedInput_ = current;
  deliveredSinceStart_ = false;
  inputStalledAtStop_ = false;
  lastDeliverySeen_ = Clock::monotonic();
  if (bufferManager_) {
    watchedSamples_ = bufferManager_->framesDelivered();
    // The input before ends now, while the new one has delivered nothing. Once it has, its first
    // delivery began the new input already (the capture's time stamps jump there): one move is
    // one new input, and the new one's first readings stay.
    if (AVAudioSession::sharedInstance().currentInputAwaitsNewSource()) bufferManager_->RequestNewInput();
  }
  // That the input before delivered nothing is not said of this one before its time.
  if (audioInputProblem_ == kInputDeliversNothing) withdrawAudioInputProblem();
}

void SAudioController::watchInput() {
  // An input that turned out not to capture after the start, or that ended for good, stopped the
  // unit: as after a start that failed, the engine says why and tries again.
  if (OSStatus failure = noErr; unitStoppedByItsInput(&failure)) {
    noteStartResult(failure);
    return;
  }
  // The capture may read another source than at the last look (the server moved it, the
  // desktop's default input changed).
  followCapturedInput();
  // Measured on this thread's clock between looks, not by counting looks: a main thread that was
  // busy for a while finds the samples that came meanwhile at its next look.
  const uint64_t samples = bufferManager_ ? bufferManager_->framesDelivered() : watchedSamples_;
  const double now = Clock::monotonic();
  if (samples != watchedSamples_) {
    watchedSamples_ = samples;
    lastDeliverySeen_ = now;
    // Back: from a start that failed, from a stall while running, or from the one the start found
    // at the stop before it.
    if (!audioInputProblem_.empty()) setAudioInputProblem("", false);
    failedStartStatus_ = noErr;  // a failure after this is news again
    deliveredSinceStart_ = true;
    inputStalledAtStop_ = false;
    return;
  }
  // The quick recheck is for the input that stalled, until it delivers: never for another one.
  // Until its capture can deliver, it has a start's time like any other.
  const auto recheckDue = inputStalledAtStop_ ? stalledInputRecheckDue() : std::nullopt;
  const bool silent = deliveredSinceStart_ ? now - lastDeliverySeen_ + kTimerSlack >= kInputSilenceLimit
                      : recheckDue         ? now + kTimerSlack >= *recheckDue
                                           : now - lastDeliverySeen_ + kTimerSlack >= kFirstInputLimit;
  // What a start that failed said no longer holds once the unit runs that long without samples.
  if (audioInputProblem_ != kInputDeliversNothing && silent) {
    stalledInput_ = watchedInput_;
    setAudioInputProblem(kInputDeliversNothing, false);
    // What it delivers when it comes back is measured from then on, with nothing from before.
    if (bufferManager_) bufferManager_->RequestNewInput();
  }
}

void SAudioController::setAudioInputProblem(const std::string& problem, bool retrying) {
  // Logged once for each stretch without input, however often a stop takes the problem away and a
  // start finds it again.
  if (!problem.empty() && problem != loggedProblem_) {
    NSLog("No audio input: %s%s", problem.c_str(), retrying ? "; trying again every second" : "");
  } else if (problem.empty() && !loggedProblem_.empty()) {
    NSLog("Audio input is back");
  }
  loggedProblem_ = problem;
  if (problem == audioInputProblem_) return;
  audioInputProblem_ = problem;
  NSNotificationCenter::defaultCenter().postNotificationName(kAudioInputDidChangeNotification, this);
}

OSStatus SAudioController::stopIOUnit() {
  captureStarted_ = false;
  cancelInputRetry();  // a stopped chart does not wait for its input
  stopInputWatch();    // nor expects any
  // The source that delivers nothing is the one the watch found delivering nothing: a start looks
  // again quickly only if it captures that source. A capture moved to another source since (the
  // desktop's default input changed, and the watch has not looked since) reads one not judged.
  const bool stalledHere = audioInputProblem_ == kInputDeliversNothing && !auFilePlayer_ &&
                           AVAudioSession::sharedInstance().currentInputUID() == stalledInput_;
  OSStatus status = noErr;
  if (auFilePlayer_) {
    auFilePlayer_->stop();
  } else {
    status = AudioOutputUnitStop(rioUnit_);  // without a unit: a parameter error, logged below
  }
  // The unit is stopped and no callback runs any more: the input can be reset safely. What the
  // next start captures is a new input, measured with nothing from before the stop.
  if (bufferManager_) bufferManager_->ResetFFTInput();
  if (status != noErr) NSLog("couldn't stop AURemoteIO: %d", int(status));
  // A stopped chain watches no input, so it makes no claim about it: whatever the reason it had
  // none goes with the stop, and the next start finds out again (at once, as its unit starts or,
  // for an input that delivered nothing, as samples come or do not).
  if (audioInputProblem_ == kInputDeliversNothing && !auFilePlayer_) inputStalledAtStop_ = stalledHere;
  withdrawAudioInputProblem();
  return status;
}

void SAudioController::withdrawAudioInputProblem() {
  if (audioInputProblem_.empty()) return;
  audioInputProblem_.clear();  // not logged: the input is not back
  NSNotificationCenter::defaultCenter().postNotificationName(kAudioInputDidChangeNotification, this);
}

void SAudioController::reinitIOUnit() {
  if (bufferManager_) bufferManager_->FreezeFFTInput();
  stopIOUnit();
  teardownChain();
  setupIOUnit();
}

void SAudioController::applyMathParams(MathParams params) {
  const bool capturing = captureStarted_;
  if (auFilePlayer_) {
    // The microphone chain takes the file's place (reinitIOUnit stops the file first): another
    // input, as after a stop and a start.
    mathParams_ = params;
    reinitIOUnit();
    if (capturing) startIOUnit();
    return;
  }
  mathParams_ = params;
  // Neither stopped nor torn down as a whole: the input, its watch and what is said of it go on.
  // The old window takes nothing more from here, but still follows the deliveries' times.
  if (bufferManager_) bufferManager_->FreezeFFTInput();
  cancelInputRetry();  // a start that is being retried is tried with the new unit below
  // The old chain listens until the new one takes its place on the input, from one delivery to
  // the next: the input's stream goes on, and every delivery reaches one chain or the other.
  DetachedChain old = detachMicChain();
  setupMicIOUnit();
  bool inPlace = false;
  if (capturing) startIOUnitInPlaceOf(old.unit, &inPlace);
  disposeUnit(old.unit);  // no delivery reaches the old chain once this returns
  // Its input goes on here, unless it was ending (a new input asked for, a jump in the times) or
  // the new chain reads another one.
  if (inPlace && bufferManager_ && old.bufferManager) {
    if (auto continuation = old.bufferManager->continuation()) bufferManager_->ContinueMeasurement(*continuation);
  }
  // The watch counts the new buffer manager's deliveries, all of which came since the change.
  watchedSamples_ = 0;
}

SAudioController::DetachedChain SAudioController::detachMicChain() {
  DetachedChain chain;
  chain.unit = rioUnit_;
  rioUnit_ = nullptr;
  chain.bufferManager = std::move(bufferManager_);
  chain.filter = std::move(dcRejectionFilter_);
  // The old unit's callback keeps its own context; the new chain gets a fresh one.
  chain.callbackData = std::exchange(callbackData_, std::make_unique<CallbackData>());
  return chain;
}

SAudioController::DetachedChain::~DetachedChain() { disposeUnit(unit); }

void SAudioController::handleInterruption(const NSNotification& notification) {
  if (stopAllActions_.load()) return;
  try {
    int64_t type = -1;
    const Value& info = notification.userInfo;
    if (info.is_object()) {
      auto it = info.find(AVAudioSessionInterruptionTypeKey);
      if (it != info.end() && it->is_number_integer()) type = it->get<int64_t>();
    }
    NSLog("Session interrupted > --- %s ---\n",
          type == AVAudioSessionInterruptionTypeBegan ? "Begin Interruption" : "End Interruption");
    if (type == AVAudioSessionInterruptionTypeBegan) {
      stopIOUnit();
    } else if (type == AVAudioSessionInterruptionTypeEnded) {
      NSErrorRef error;
      if (!AVAudioSession::sharedInstance().setActive(true, &error) || error)
        NSLog("AVAudioSession set active failed with error: %s",
              error ? error->description().c_str() : "(null)");
      startIOUnit();
    }
  } catch (const CAXException& e) {
    std::fprintf(stderr, "Error: %s (%s)\n", e.mOperation, e.FormatError().c_str());
  }
}

void SAudioController::handleRouteChange(const NSNotification& notification) {
  // The session moves every capture to the input it routes to, running or not, so a running
  // capture may read another source from now on (a stopped one is looked at when it starts).
  followCapturedInput();
  if (stopAllActions_.load()) return;
  AVAudioSession& session = AVAudioSession::sharedInstance();
  int64_t reason = 0;
  std::string previous;
  const Value& info = notification.userInfo;
  if (info.is_object()) {
    auto it = info.find(AVAudioSessionRouteChangeReasonKey);
    if (it != info.end() && it->is_number_integer()) reason = it->get<int64_t>();
    auto prev = info.find(AVAudioSessionRouteChangePreviousRouteKey);
    if (prev != info.end()) previous = prev->is_string() ? prev->get<std::string>() : prev->dump();
  }
  NSLog("Route change:");
  switch (reason) {
    case AVAudioSessionRouteChangeReasonNewDeviceAvailable: NSLog("     NewDeviceAvailable"); break;
    case AVAudioSessionRouteChangeReasonOldDeviceUnavailable: NSLog("     OldDeviceUnavailable"); break;
    case AVAudioSessionRouteChangeReasonCategoryChange:
      NSLog("     CategoryChange");
      NSLog(" New Category: %s", session.category().c_str());
      break;
    case AVAudioSessionRouteChangeReasonOverride: NSLog("     Override"); break;
    case AVAudioSessionRouteChangeReasonWakeFromSleep: NSLog("     WakeFromSleep"); break;
    case AVAudioSessionRouteChangeReasonNoSuitableRouteForCategory: NSLog("     NoSuitableRouteForCategory"); break;
    case AVAudioSessionRouteChangeReasonRouteConfigurationChange: NSLog("     RouteConfigurationChange"); break;
    default: NSLog("     ReasonUnknown"); break;
  }
  NSLog("Previous route:\n");
  NSLog("%s", previous.c_str());
  NSLog("New route:\n");
  NSLog("%s", session.currentRoute().description().c_str());
  // Nothing more: the session moves every running capture to the input it routes to.
}

void SAudioController::handleMediaServerReset(const NSNotification&) {
  NSLog("Media server has reset");
  if (stopAllActions_.load()) return;
  // From here the render callback leaves the buffers alone; the rebuild itself runs on the main
  // thread, where every other change of the chain happens.
  audioChainIsBeingReconstructed_.store(true);
  std::weak_ptr<SAudioController> weak = weak_from_this();
  DispatchQueue::main()->async([weak] {
    if (auto self = weak.lock()) self->rebuildAfterMediaReset();
  });
}

void SAudioController::rebuildAfterMediaReset() {
  noteInputChanged();  // the server that comes back is another one
  teardownChain();
  setupAudioChain();
  // A chart that was stopped stays stopped: it captures nothing and says nothing of its input.
  if (captureStarted_) startIOUnit();
  audioChainIsBeingReconstructed_.store(false);
}

void SAudioController::startFileRecord(const std::string& url) {
  if (url.empty()) return;
  if (recorder_) recorder_->stop();
  NSErrorRef error;
  recorder_ = AVAudioRecorder::create(url,
                                      Value{{AVFormatIDKey, int64_t(kAudioFormatMPEG4AAC)},
                                            {AVSampleRateKey, 44100.0},
                                            {AVNumberOfChannelsKey, 2}},
                                      &error);
  if (!recorder_) return;
  recorder_->setDelegate(std::static_pointer_cast<AVAudioRecorderDelegate>(shared_from_this()));
  recorder_->setMeteringEnabled(true);
  recorder_->prepareToRecord();
  recorder_->record();
}

void SAudioController::stopFileRecord() {
  if (recorder_ && recorder_->isRecording()) recorder_->stop();
}

void SAudioController::pauseFileRecord() {
  if (recorder_ && recorder_->isRecording()) recorder_->pause();
}

int SAudioController::getRecorderPeakPowerForChannel() {
  if (!recorder_) return 0;
  recorder_->updateMeters();
  return int(recorder_->averagePowerForChannel(0));
}

void SAudioController::startProcessingFileFrom(float percent) {
  if (!auFilePlayer_) return;
  stopIOUnit();
  auFilePlayer_->setCurrentPositionPercent(percent);
  startIOUnit();
}

float SAudioController::currentPositionInPercent() const {
  return auFilePlayer_ ? auFilePlayer_->currentPositionInPercent() : -1.0f;
}

float SAudioController::getFileDuration() const { return auFilePlayer_ ? auFilePlayer_->fileLength() : -1.0f; }

double SAudioController::sessionSampleRate() const { return AVAudioSession::sharedInstance().sampleRate(); }

void SAudioController::overrideToDefaultMic() {
  AVAudioSession& session = AVAudioSession::sharedInstance();
  NSLog("%s", session.currentRoute().description().c_str());
  for (const auto& port : session.availableInputs()) {
    if (port->portType() != AVAudioSessionPortBuiltInMic) continue;
    for (const auto& source : port->dataSources()) {
      if (source->orientation() == AVAudioSessionOrientationBottom) {
        NSErrorRef error;
        port->setPreferredDataSource(source, &error);
        session.setPreferredInput(port, &error);
        break;
      }
    }
  }
  NSLog("%s", session.currentRoute().description().c_str());
}

OSStatus SAudioController::micRenderCallback(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                             const AudioTimeStamp* inTimeStamp, uint32_t, uint32_t inNumberFrames,
                                             AudioBufferList* ioData) {
  auto* cd = static_cast<const CallbackData*>(inRefCon);
  if (!cd || !ioData) return kAudio_ParamError;
  auto silence = [ioData] {
    for (uint32_t i = 0; i < ioData->mNumberBuffers; ++i)
      if (ioData->mBuffers[i].mData) std::memset(ioData->mBuffers[i].mData, 0, ioData->mBuffers[i].mDataByteSize);
  };
  if (cd->audioChainIsBeingReconstructed && cd->audioChainIsBeingReconstructed->load(std::memory_order_acquire)) {
    silence();
    return noErr;
  }
  OSStatus err = AudioUnitRender(cd->rioUnit, ioActionFlags, inTimeStamp, 1, inNumberFrames, ioData);
  if (err != noErr) {
    // Whatever the buffers hold is not audio: play silence and hand nothing on.
    silence();
    return err;
  }
  auto* samples = static_cast<float*>(ioData->mBuffers[0].mData);
  if (cd->bufferManager && cd->dcRejectionFilter) {
    // Samples that do not continue the ones before (the first after a start, another source, a
    // gap) are filtered as if nothing came before them, and begin the window anew.
    if (cd->bufferManager->BeginDelivery(inTimeStamp, inNumberFrames)) cd->dcRejectionFilter->Reset();
    // The filter's own start is no sound: the window begins once it has settled.
    const uint32_t settling = cd->dcRejectionFilter->FilterInPlace(samples, inNumberFrames);
    if (cd->bufferManager->mFFTDataWanted.load() != 0)
      cd->bufferManager->CopyAudioToFFTInput(samples + settling, inNumberFrames - settling);
  }
  if (cd->muteAudio && cd->muteAudio->load(std::memory_order_relaxed)) silence();
  return noErr;
}
