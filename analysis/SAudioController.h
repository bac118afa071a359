#pragma once
// The audio engine behind every chart: puts the shared session into a measuring configuration,
// captures through a remote I/O unit (bus 1 rendered into the render callback, mono float at
// 44,100 Hz), removes DC and hands the samples to its buffer manager. It can instead play an audio
// file (AUFilePlayer), record with a meter, and it reacts to the session's interruption,
// route-change and media-services-reset notifications.
//
// Every engine has its own callback context; several engines share the one input through the
// capture backend's fan-out. A unit is stopped, uninitialised and disposed before its buffer
// manager and filter go, whether the chain is rebuilt or the engine is destroyed.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "analysis/AUFilePlayer.h"
#include "analysis/CallbackData.h"
#include "analysis/MathParams.h"
#include "platform/audio/AVAudioRecorder.h"
#include "platform/audio/AudioUnit.h"
#include "platform/foundation/NSNotificationCenter.h"

class NSTimer;

class BufferManager;
class DCRejectionFilter;

// Configures the process-wide audio session for measuring.
class AudioSessionService {
 public:
  static AudioSessionService& sharedService();
  // Play-and-record with options 13, measurement mode, 5 ms I/O buffer, 44,100 Hz, active. Each
  // step's error is ignored; later steps run regardless.
  void setupSessionForRecording();

 private:
  AudioSessionService() = default;
};

class SAudioController : public AVAudioRecorderDelegate, public std::enable_shared_from_this<SAudioController> {
 public:
  // init: mathParams {0, 512}, muted, session configured and the microphone chain built (not started).
  static std::shared_ptr<SAudioController> create();
  ~SAudioController() override;

  // The recorder's average power of channel 0 in dB, truncated toward zero; 0 without a recorder.
  int getRecorderPeakPowerForChannel();
  void handleInterruption(const NSNotification& notification);
  void handleRouteChange(const NSNotification& notification);
  // Raises the rebuild flag at once and rebuilds the chain on the main thread (main queue).
  void handleMediaServerReset(const NSNotification& notification);
  void setupAudioSession();
  void overrideToDefaultMic();
  // Builds the file chain from fileUrl. On failure returns false with *error and leaves the
  // microphone chain as it was (still running if it ran).
  bool setupFileIOUnit(NSErrorRef* error = nullptr);
  void setupMicIOUnit();
  void reinitIOUnit();
  // A setting of the chain changed (its frame size or window): the chain is built again with
  // `params`, and when it was capturing its new unit takes the old one's place on the input from
  // one delivery to the next, so the input's capture goes on (a stopped engine stays stopped). The
  // input is the one it had, so it goes on as the same measurement: the buffer manager keeps its
  // number (BufferManager::ContinueMeasurement) unless that input was ending at the change (a new
  // one asked for after a stall, a jump in the time stamps), whether there is input is not said
  // again (no notice comes or goes for it), and the input watch goes on where it was. The first
  // frame of the new chain is made only of samples delivered after the change. A file chain is
  // replaced by the microphone chain, as reinitIOUnit does, and that is a new input.
  void applyMathParams(MathParams params);
  void setupAudioChain();
  void setupIOUnit();
  OSStatus startIOUnit();
  OSStatus stopIOUnit();
  void startFileRecord(const std::string& url);
  void stopFileRecord();
  void pauseFileRecord();
  void startProcessingFileFrom(float percent);
  float currentPositionInPercent() const;
  float getFileDuration() const;
  double sessionSampleRate() const;
  BufferManager* getBufferManagerInstance() const { return bufferManager_.get(); }

  // ---- Whether the microphone chain has an input (what the chart shows) ----
  // Posted on the main thread, with the engine as the object, whenever audioInputProblem changes.
  static constexpr const char* kAudioInputDidChangeNotification = "SAudioControllerAudioInputDidChange";
  // How often an engine without its input tries again.
  static constexpr double kInputRetryInterval = 1.0;
  // How long a running microphone chain may go without a delivered sample before it counts as
  // having no input, and how often that is looked at. A capture just started, or moved to another
  // source (another input chosen, the desktop's default input changed), is given longer for its
  // first samples, counted from the move: a source the server wakes for it may take a second or
  // two to deliver.
  static constexpr double kInputSilenceLimit = 2.0;
  static constexpr double kFirstInputLimit = 4.0;
  static constexpr double kInputWatchInterval = 0.25;
  // How soon a start looks again at an input that delivered nothing when the chain stopped,
  // counted from when its capture could first deliver (the audio server makes the capture's
  // stream after the start; until then the start has kFirstInputLimit as any other). A source
  // that delivers hands out its first samples within the block its server was rendering when the
  // stream came (a tenth of a second is common), which no load of the machine shortens. It
  // holds for that start's first samples only, and only while the input is the one that stalled:
  // a start that captures another source (however it was chosen: a route change, the desktop's
  // default input changed while stopped), a file chain in its place or a server that came back
  // gives the next start kFirstInputLimit again.
  static constexpr double kStalledInputRecheck = 0.25;
  // How often a start that looks again quickly asks whether its capture can deliver yet.
  static constexpr double kStalledInputRecheckPoll = 0.05;
  // What audioInputProblem says of a running capture that delivers nothing.
  static constexpr const char* kInputDeliversNothing = "the audio input delivers nothing";
  // Empty while the microphone chain captures (or a file chain replaced it) and while it is
  // stopped; otherwise why it has no input, in words with the platform's status in parentheses:
  // its last start failed, or it runs but nothing has been delivered for kInputSilenceLimit
  // seconds (kInputDeliversNothing, which goes once samples come again; a start after a stop that
  // found it so says it again within kStalledInputRecheck unless samples come). When a start
  // failed for a cause that can pass (the audio server does not answer, the source is not there)
  // the engine tries again every kInputRetryInterval seconds on the main run loop until capture
  // runs or the unit is stopped; a lost audio server (the media-services reset) leads here too.
  // Whatever the reason, no frame of the chain is a measurement while it is set.
  const std::string& audioInputProblem() const { return audioInputProblem_; }
  bool hasAudioInput() const { return audioInputProblem_.empty(); }
  bool isWaitingForAudioInput() const { return inputRetryTimer_ != nullptr; }
  bool audioChainIsBeingReconstructed() const { return audioChainIsBeingReconstructed_.load(); }

  MathParams mathParams() const { return mathParams_; }
  void setMathParams(MathParams params) { mathParams_ = params; }
  bool muteAudio() const { return muteAudio_.load(); }
  void setMuteAudio(bool mute) { muteAudio_.store(mute); }
  const std::string& fileUrl() const { return fileUrl_; }
  void setFileUrl(std::string url) { fileUrl_ = std::move(url); }
  bool stopAllActions() const { return stopAllActions_.load(); }
  void setStopAllActions(bool stop) { stopAllActions_.store(stop); }

  // Inspection.
  AudioUnit rioUnit() const { return rioUnit_; }
  const std::shared_ptr<AUFilePlayer>& auFilePlayer() const { return auFilePlayer_; }
  const std::shared_ptr<AVAudioRecorder>& recorder() const { return recorder_; }
  const CallbackData& callbackData() const { return *callbackData_; }

  // The microphone chain's render callback; its context is the engine's CallbackData.
  static OSStatus micRenderCallback(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                    const AudioTimeStamp* inTimeStamp, uint32_t inBusNumber,
                                    uint32_t inNumberFrames, AudioBufferList* ioData);

 private:
  SAudioController();
  // Drops the file player, stops and disposes of the microphone unit, clears the callback
  // context, then deletes the buffer manager and the filter.
  void teardownChain();
  // Stops, uninitialises and disposes of a unit (waiting for a callback in flight); none: nothing.
  static void disposeUnit(AudioUnit& unit);
  void disposeMicUnit();
  // A microphone chain taken out of the engine while its replacement is built: its unit goes on
  // capturing until it is disposed of, before its buffers and callback context go.
  struct DetachedChain {
    AudioUnit unit = nullptr;
    std::unique_ptr<BufferManager> bufferManager;
    std::unique_ptr<DCRejectionFilter> filter;
    std::unique_ptr<CallbackData> callbackData;
    DetachedChain() = default;
    DetachedChain(DetachedChain&&) = default;
    ~DetachedChain();
  };
  DetachedChain detachMicChain();
  void rebuildAfterMediaReset();
  // Starts the microphone unit as startIOUnit does, in the place of `running` (a unit of the chain
  // it replaces, none: a plain start) on the input; *inPlace says whether it took that place.
  OSStatus startIOUnitInPlaceOf(AudioUnit running, bool* inPlace);
  // Records the result of starting the microphone unit: watches the input of a unit that runs, or
  // says why there is none and, for a cause that can pass, keeps trying.
  void noteCaptureStart(OSStatus status);
  // noteCaptureStart, logging a failure once until the input delivers.
  void noteStartResult(OSStatus status);
  // Whether the microphone unit was stopped by its input after its start (*status: why).
  bool unitStoppedByItsInput(OSStatus* status) const;
  void setAudioInputProblem(const std::string& problem, bool retrying);
  void retryAudioInput();
  void cancelInputRetry();
  // While the microphone unit runs: whether samples still come (see kInputSilenceLimit).
  void startInputWatch();
  // When the quick look again at an input that stalled is due (kStalledInputRecheck after its
  // capture could first deliver); none while the capture's stream is being made.
  std::optional<double> stalledInputRecheckDue() const;
  // The quick look, once it is due.
  void armStalledInputRecheck();
  // Another input from here on (a file chain, a server that came back): what the engine knew of
  // the one before (that it stalled) goes.
  void noteInputChanged();
  // While the input is watched: when the capture reads another input than the one watched, that
  // one is a new input from now, with a new input's time for its first samples.
  void followCapturedInput();
  // Whatever was said of the input goes, without saying that it is back (a stop, another input).
  void withdrawAudioInputProblem();
  void stopInputWatch();
  void watchInput();
  // A repeating main-run-loop timer that calls `action` on this engine while it lives.
  std::shared_ptr<NSTimer> repeatingTimer(double interval, void (SAudioController::*action)());

  AudioUnit rioUnit_ = nullptr;
  std::unique_ptr<BufferManager> bufferManager_;
  std::unique_ptr<DCRejectionFilter> dcRejectionFilter_;
  std::atomic<bool> audioChainIsBeingReconstructed_{false};
  std::shared_ptr<AUFilePlayer> auFilePlayer_;
  std::shared_ptr<AVAudioRecorder> recorder_;
  std::atomic<bool> muteAudio_{true};
  std::atomic<bool> stopAllActions_{false};
  MathParams mathParams_{0, 512};
  std::string fileUrl_;
  std::unique_ptr<CallbackData> callbackData_;
  NSObserverTokenRef interruptionObserver_, routeChangeObserver_, mediaResetObserver_;
  std::string audioInputProblem_;  // main thread
  OSStatus failedStartStatus_ = noErr;
  std::shared_ptr<NSTimer> inputRetryTimer_;
  std::shared_ptr<NSTimer> inputWatchTimer_;
  uint64_t watchedSamples_ = 0;   // the buffer manager's frames delivered at the last look that saw them change
  double lastDeliverySeen_ = 0;   // when that was, or when the watch began (Clock::monotonic)
  bool deliveredSinceStart_ = false;  // since the start or the last route change
  // The input delivered nothing when the chain last stopped, and has delivered nothing since; it
  // is still the input that stalled (see kStalledInputRecheck).
  bool inputStalledAtStop_ = false;
  // The session's UID of the input the watch last found delivering nothing
  // (AVAudioSession::currentInputUID).
  std::string stalledInput_;
  // The input the watch looks at (AVAudioSession::currentInputUID at its last look).
  std::string watchedInput_;
  // startIOUnit was called and stopIOUnit not since: the chart wants capture, whether or not the
  // unit could start. A chain built again runs again only then.
  bool captureStarted_ = false;
  std::shared_ptr<NSTimer> stalledRecheckTimer_;
  std::string loggedProblem_;         // the last problem logged, until the input is back
};
