#pragma once
// The process-wide audio session: category, mode, preferred I/O buffer duration and sample rate,
// activation, the current route and the available inputs, preferred input and data source.
//
// Inputs are the capture backend's sources. Which input captures is chosen, in this order, by
// setInputBackend (tests, the file option of the application), setPreferredInput, the input
// named by setInputSpec (the command line) or by the environment variable SA_AUDIO_INPUT, and
// otherwise the PulseAudio server's default source. An input name reads "pulse" (default source),
// "pulse:<source name>", "file:<path>" (the file plays in real time as if it were the microphone)
// or "test" (a hand-driven test input).
//
// Inputs: each source of the PulseAudio server is an input port (AVAudioSessionPorts.h says how its
// type, name and data sources are found); monitors of outputs are not inputs.
//
// The route is one for the whole process, as on the phone: every unit that captures from the
// server shares one capture stream, which reads the input chosen now. Choosing an input moves that
// stream, with the units already running on it, and a unit that starts later joins it. When the
// chosen input goes away (its source is removed, or the server restarts without it), the session
// forgets the choice and the stream reads the input then in effect: the session no longer reports
// that input as preferred or current, so choosing it again when it returns is a change. A unit
// that starts after the source went but before the session heard of it does the same: it finds
// the chosen source gone, forgets it and joins the input then in effect.
//
// A source named by the input name (SA_AUDIO_INPUT, setInputSpec) is not a choice but the input
// itself: while it is gone, units capture nothing. A running capture that loses it (the server
// moves it elsewhere, or ends it) is posted as a media-services reset, after which every engine
// starts again and fails, saying that the source is missing, until it returns; a unit started
// meanwhile fails the same way.
//
// Route changes are posted as AVAudioSessionRouteChangeNotification on the main queue, with the
// session as the sender: an input appearing on the server (reason 1, new device available), an
// input going away (reason 2, old device unavailable), and the application's own choice of another
// preferred input or data source (reason 4, override). A lost server connection is posted as
// AVAudioSessionMediaServicesWereResetNotification, also on the main queue.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/AudioTypes.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

class AudioInputBackend;
class AudioOutputBackend;
class PulseAudioInput;

inline constexpr const char* AVAudioSessionInterruptionNotification = "AVAudioSessionInterruptionNotification";
inline constexpr const char* AVAudioSessionRouteChangeNotification = "AVAudioSessionRouteChangeNotification";
inline constexpr const char* AVAudioSessionMediaServicesWereResetNotification =
    "AVAudioSessionMediaServicesWereResetNotification";
inline constexpr const char* AVAudioSessionInterruptionTypeKey = "AVAudioSessionInterruptionTypeKey";
inline constexpr const char* AVAudioSessionRouteChangeReasonKey = "AVAudioSessionRouteChangeReasonKey";
inline constexpr const char* AVAudioSessionRouteChangePreviousRouteKey = "AVAudioSessionRouteChangePreviousRouteKey";

enum AVAudioSessionInterruptionType : int64_t {
  AVAudioSessionInterruptionTypeEnded = 0,
  AVAudioSessionInterruptionTypeBegan = 1,
};

enum AVAudioSessionRouteChangeReason : int64_t {
  AVAudioSessionRouteChangeReasonUnknown = 0,
  AVAudioSessionRouteChangeReasonNewDeviceAvailable = 1,
  AVAudioSessionRouteChangeReasonOldDeviceUnavailable = 2,
  AVAudioSessionRouteChangeReasonCategoryChange = 3,
  AVAudioSessionRouteChangeReasonOverride = 4,
  AVAudioSessionRouteChangeReasonWakeFromSleep = 6,
  AVAudioSessionRouteChangeReasonNoSuitableRouteForCategory = 7,
  AVAudioSessionRouteChangeReasonRouteConfigurationChange = 8,
};

inline constexpr const char* AVAudioSessionCategoryPlayAndRecord = "AVAudioSessionCategoryPlayAndRecord";
inline constexpr const char* AVAudioSessionCategoryAmbient = "AVAudioSessionCategoryAmbient";
inline constexpr const char* AVAudioSessionModeDefault = "AVAudioSessionModeDefault";
inline constexpr const char* AVAudioSessionModeMeasurement = "AVAudioSessionModeMeasurement";

enum AVAudioSessionCategoryOptions : uint64_t {
  AVAudioSessionCategoryOptionMixWithOthers = 1,
  AVAudioSessionCategoryOptionAllowBluetooth = 4,
  AVAudioSessionCategoryOptionDefaultToSpeaker = 8,
};

inline constexpr const char* AVAudioSessionPortBuiltInMic = "MicrophoneBuiltIn";
inline constexpr const char* AVAudioSessionPortHeadsetMic = "MicrophoneWired";
inline constexpr const char* AVAudioSessionPortLineIn = "LineIn";
inline constexpr const char* AVAudioSessionPortUSBAudio = "USBAudio";
inline constexpr const char* AVAudioSessionPortBluetoothHFP = "BluetoothHFP";
inline constexpr const char* AVAudioSessionPortBluetoothA2DP = "BluetoothA2DPOutput";
inline constexpr const char* AVAudioSessionPortBluetoothLE = "BluetoothLE";
inline constexpr const char* AVAudioSessionPortBuiltInSpeaker = "Speaker";

inline constexpr const char* AVAudioSessionOrientationTop = "Top";
inline constexpr const char* AVAudioSessionOrientationBottom = "Bottom";
inline constexpr const char* AVAudioSessionOrientationFront = "Front";
inline constexpr const char* AVAudioSessionOrientationBack = "Back";
inline constexpr const char* AVAudioSessionOrientationLeft = "Left";
inline constexpr const char* AVAudioSessionOrientationRight = "Right";

inline constexpr const char* AVAudioSessionErrorDomain = "AVAudioSessionErrorDomain";

// The longest texts a port of the audio server or of a file input carries (UTF-8 bytes), so that
// what keeps them (the input profiles archive a port's UID and names) can bound what it reads back.
// Names (a source's or a server port's description, a file's name) are cut to fit at a character;
// a UID is "pulse:" and the server's source name, a source whose name does not fit giving no port,
// or "file:" and a path (at most PATH_MAX, 4096 bytes, to be opened at all).
inline constexpr size_t kAVAudioSessionMaxPortNameBytes = 256;
inline constexpr size_t kAVAudioSessionMaxPortUIDBytes = 4096 + 64;

class AVAudioSessionDataSourceDescription {
 public:
  AVAudioSessionDataSourceDescription(int64_t id, std::string name, std::string orientation)
      : dataSourceID_(id), dataSourceName_(std::move(name)), orientation_(std::move(orientation)) {}
  int64_t dataSourceID() const { return dataSourceID_; }
  const std::string& dataSourceName() const { return dataSourceName_; }
  // One of the orientation constants, or empty when the source has none.
  const std::string& orientation() const { return orientation_; }

 private:
  int64_t dataSourceID_;
  std::string dataSourceName_;
  std::string orientation_;
};
using AVAudioSessionDataSourceDescriptionRef = std::shared_ptr<AVAudioSessionDataSourceDescription>;

class AVAudioSessionPortDescription {
 public:
  AVAudioSessionPortDescription(std::string uid, std::string name, std::string type,
                                std::vector<AVAudioSessionDataSourceDescriptionRef> dataSources = {});
  const std::string& UID() const { return uid_; }
  const std::string& portName() const { return portName_; }
  const std::string& portType() const { return portType_; }
  const std::vector<AVAudioSessionDataSourceDescriptionRef>& dataSources() const { return dataSources_; }
  // The data source in use: the preferred one, else the one the device reports as active, else
  // the first.
  AVAudioSessionDataSourceDescriptionRef selectedDataSource() const;
  AVAudioSessionDataSourceDescriptionRef preferredDataSource() const;
  // Sets the data source the device reports as active (one of this port's; others are ignored).
  void setActiveDataSource(const AVAudioSessionDataSourceDescriptionRef& dataSource);
  // The data source must be one of this port's; null clears the preference. False with an error
  // otherwise.
  bool setPreferredDataSource(const AVAudioSessionDataSourceDescriptionRef& dataSource, NSErrorRef* error);
  // "<Port: Name (Type)>" with the selected data source, for route logging.
  std::string description() const;

 private:
  std::string uid_, portName_, portType_;
  std::vector<AVAudioSessionDataSourceDescriptionRef> dataSources_;
  mutable std::mutex mutex_;
  AVAudioSessionDataSourceDescriptionRef preferred_;
  AVAudioSessionDataSourceDescriptionRef active_;
};
using AVAudioSessionPortDescriptionRef = std::shared_ptr<AVAudioSessionPortDescription>;

struct AVAudioSessionRouteDescription {
  std::vector<AVAudioSessionPortDescriptionRef> inputs;
  std::vector<AVAudioSessionPortDescriptionRef> outputs;
  std::string description() const;
};

class AVAudioSession {
 public:
  static AVAudioSession& sharedInstance();
  // The identity the session's notifications carry as their object.
  const void* notificationObject() const { return this; }

  bool setCategory(const std::string& category, uint64_t options, NSErrorRef* error);
  std::string category() const;
  uint64_t categoryOptions() const;
  bool setMode(const std::string& mode, NSErrorRef* error);
  std::string mode() const;
  // Refused (false, error) outside 0.001 to 0.5 s.
  bool setPreferredIOBufferDuration(double seconds, NSErrorRef* error);
  double preferredIOBufferDuration() const;
  // Only 44,100 Hz can be delivered; another rate is recorded as preferred but sampleRate stays.
  bool setPreferredSampleRate(double rate, NSErrorRef* error);
  bool setActive(bool active, NSErrorRef* error);
  double sampleRate() const { return kAudioSampleRate; }
  // Frames per capture delivery that the preferred buffer duration asks for.
  uint32_t preferredFramesPerBuffer() const;

  AVAudioSessionRouteDescription currentRoute();
  // The UID of the input the session's capture reads now (the input currentRoute names), without
  // listing the inputs: the chosen input's, else that of the input named, the server's default
  // source being the one the running capture reads, else the server's default now ("pulse" when
  // no server tells). A test backend or file input set by setInputBackend gives its identifier.
  std::string currentInputUID();
  // Since when the capture of the input in effect can deliver (AudioInputBackend::deliverableSince):
  // none while it does not run or its server is still making its stream.
  std::optional<double> currentInputDeliverableSince();
  // Whether the capture of the input in effect has moved to another source and has delivered
  // nothing of it yet (AudioInputBackend::awaitsNewSource).
  bool currentInputAwaitsNewSource();
  std::vector<AVAudioSessionPortDescriptionRef> availableInputs();
  // The port must be one of availableInputs (matched by UID); null clears the preference. A port
  // of the audio server with a preferred data source also switches the source's active port on the
  // server. The server's capture, with every unit running on it, moves to the input now in effect
  // (also when it is the one chosen before: the server may have moved the capture away); when it
  // cannot, the choice is refused (false, error) and the one before stays. When the input or its
  // data source differs from the one chosen before, an override route change (reason 4) follows
  // on the main queue.
  bool setPreferredInput(const AVAudioSessionPortDescriptionRef& port, NSErrorRef* error);
  AVAudioSessionPortDescriptionRef preferredInput() const;

  // Input selection (see the top of this file).
  void setInputSpec(const std::string& input);
  std::string inputSpec() const;
  // Overrides every other choice while set; null returns to them.
  void setInputBackend(std::shared_ptr<AudioInputBackend> backend);
  // The backend of the current input, created on first use; null with *status set when it cannot
  // be opened (no audio server, unreadable file, unknown input name) or, for the server's shared
  // capture, when it cannot move to the current input (that source is missing). The server's
  // capture is started for the caller's sink, which is expected to join it at once; a caller
  // whose sink does not join stops it again (AudioInputBackend::stopCapturingIfIdle).
  std::shared_ptr<AudioInputBackend> inputBackend(OSStatus* status = nullptr);

  // Whether the current input can capture, and if not why. Unusable cannot change by waiting: an
  // input name of an unknown kind, a file that does not exist, is a directory or is not audio, a
  // source the audio server does not have. Unavailable may: the audio server does not answer (a
  // chart then shows that it has no input and picks the server up when it answers). Begins
  // connecting to the audio server when the input is one of its sources, and tells from what the
  // connection knows after at most `serverSeconds` of waiting for the server's list of sources
  // (start-up's check, before any window; none: what it knows now): a server that has not
  // answered by then, or a source before the server's list of them came, is not refused.
  struct InputCheck {
    enum Result { Ready, Unavailable, Unusable };
    Result result = Ready;
    OSStatus status = noErr;
    std::string problem;  // in words, with the platform's status in parentheses
  };
  InputCheck checkInput(double serverSeconds = 0);
  // Why the current input failed to capture with `status`, in words naming the input (the file,
  // the source), with the status in parentheses.
  std::string describeInputProblem(OSStatus status);
  // Whether a capture that failed with `status` may start later without anything changing here
  // (the audio server or the source may come back).
  static bool isTransientInputFailure(OSStatus status);

  // Where started units with output enabled play: the backend set by setOutputBackend (tests),
  // otherwise the PulseAudio server while a connection to it is ready, otherwise none (output is
  // discarded and units without input run on a real-time clock).
  void setOutputBackend(std::shared_ptr<AudioOutputBackend> backend);
  std::shared_ptr<AudioOutputBackend> outputBackend();

  // Test hook: while set, availableInputs is exactly these ports (the audio server and the
  // backends are not asked), so that tests can describe inputs the machine does not have, such as
  // a built-in microphone with back, front and bottom data sources. Nullopt returns to the real
  // inputs.
  void setPortsForTesting(std::optional<std::vector<AVAudioSessionPortDescriptionRef>> ports);
  // Test hook, for programs that run many tests in one process: the session is as in a process
  // just started. It forgets the inputs named, set, chosen and listed, the backends and the
  // server's capture, and the connection to the audio server is let go of and forgets that server
  // (pulse::forgetServer), so that another server is not compared with it. Nothing is posted;
  // what the capture's own thread posted before is still on the main queue. No unit may capture.
  void resetForTesting();

  // Main thread: the audio server says a source appeared (`appeared`) or went. The inputs are
  // listed again and compared with the last listing: new inputs are posted as a route change of
  // reason 1, inputs gone as reason 2, and nothing is posted when no input changed (a monitor of a
  // new output, for example). A chosen input that is gone is no longer chosen (the capture
  // follows the input then in effect) before anything is posted.
  void serverSourcesChanged(bool appeared);
  // Main thread: the connection to the audio server was made again after it was lost (a server
  // that restarted). The new server's inputs are compared with the old one's as above.
  void serverReconnected();
  // Main thread: the server moved the capture off the named source it read (the source went away,
  // or someone moved the stream), so it delivers nothing. The capture is moved to the input in
  // effect, a chosen source that is gone being chosen no more; when that input is a source the
  // server does not have, the capture fails (serverCaptureFailed) and its units stop, saying so.
  void serverCaptureLeftItsSource();
  // Main thread: the server moved its capture of the default source from `previousSource` to
  // another (the desktop's default input changed, or the one it read went away): the route's input
  // changed, which is posted as a route change of reason 8 (route configuration change).
  void serverCaptureMoved(const std::string& previousSource);
  // Main thread: the server's capture could not read `source` (`status`: kAudioHardwareBadDeviceError,
  // the server has no such source; kAudioUnitErr_NoConnection, no server answers). When that is the
  // chosen input, it is chosen no more and the capture, with every unit on it, reads the input then
  // in effect (true: handled). Otherwise false: the capture fails, and its units stop.
  bool serverCaptureFailed(PulseAudioInput& capture, OSStatus status, const std::string& source);

  // Posts the session's notifications on the calling thread (the backends call these through the
  // main queue; tests call them directly).
  void postInterruption(AVAudioSessionInterruptionType type);
  void postRouteChange(AVAudioSessionRouteChangeReason reason, const std::string& previousRoute);
  void postMediaServicesReset();

 private:
  AVAudioSession() = default;
  // The backend that captures the input in effect, if one was made.
  std::shared_ptr<AudioInputBackend> backendInEffect();
  std::shared_ptr<AudioInputBackend> backendForSpecLocked(const std::string& input, OSStatus* status);
  // Lists the inputs again and posts how they changed since the last listing; `appeared` is the
  // server's word when there is no listing to compare with (none: nothing is posted then).
  void relistInputs(std::optional<bool> appeared);
  // With routingMutex_ held: moves the server's capture (if one was opened) to the input now in
  // effect, when that is one of the server's.
  OSStatus moveServerCapture();
  // With routingMutex_ held: as moveServerCapture, but a chosen source that the server does not
  // have is chosen no more, and the capture reads the input then in effect. `start`: also makes
  // the server's capture when there is none and starts it, and *backend is the input in effect's
  // backend (null when it cannot capture). Returns noErr or why the input in effect cannot be read.
  OSStatus followInputInEffectLocked(bool start, std::shared_ptr<AudioInputBackend>* backend);
  // Forgets the chosen input if it is still the one of that UID; whether it was.
  bool forgetChoice(const std::string& uid);
  // Switches the server source's active port to the port's preferred data source (server ports).
  void applyServerDataSource(const AVAudioSessionPortDescriptionRef& port);
  // Posts a route change of the reason from the main queue, with the current route as the
  // previous one.
  void postRouteChangeOnMain(AVAudioSessionRouteChangeReason reason, const std::string& previousRoute);
  std::string effectiveSpecLocked() const;

  mutable std::mutex mutex_;
  std::string category_ = AVAudioSessionCategoryAmbient;
  uint64_t options_ = 0;
  std::string mode_ = AVAudioSessionModeDefault;
  double preferredIOBufferDuration_ = 0.023;
  double preferredSampleRate_ = 0;
  bool active_ = false;
  std::optional<std::string> inputSpec_;
  AVAudioSessionPortDescriptionRef preferredInput_;
  std::shared_ptr<AudioInputBackend> overrideBackend_;
  std::shared_ptr<AudioOutputBackend> overrideOutput_;
  // Serialises what changes which source the server's capture reads (choosing an input, an input
  // going away, a unit starting), so that the last change is the one in effect. Taken before
  // mutex_ and held while the capture moves (the server is waited for), never under mutex_.
  std::mutex routingMutex_;
  // The server's capture: every unit that captures from the server shares it.
  std::shared_ptr<PulseAudioInput> serverCapture_;
  // The other backends already opened (files, the test input), by identifier; kept so that every
  // unit on one input shares a stream.
  std::vector<std::shared_ptr<AudioInputBackend>> backends_;
  // Ports handed out, reused while the input they describe is unchanged.
  std::vector<AVAudioSessionPortDescriptionRef> knownPorts_;
  std::optional<std::vector<AVAudioSessionPortDescriptionRef>> testPorts_;
  // The inputs (by UID) of the last listing that route changes are reckoned from.
  std::optional<std::vector<std::string>> listedInputUIDs_;
  // The input and data source of the last preferred-input choice ("" for none).
  std::string chosenRoute_;
};
