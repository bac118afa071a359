#include "platform/audio/AVAudioSession.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/audio/AVAudioSessionPorts.h"
#include "platform/audio/AudioOutputBackend.h"
#include "platform/audio/FileAudioInput.h"
#include "platform/audio/PulseAudioConnection.h"
#include "platform/audio/PulseAudioInput.h"
#include "platform/audio/PulseAudioOutput.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/foundation/FileAddress.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSNotificationCenter.h"

namespace {
NSErrorRef sessionError(int64_t code, const std::string& description) {
  return NSError::errorWithDomain(AVAudioSessionErrorDomain, code,
                                  Value{{NSLocalizedDescriptionKey, description}});
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The server source an input name reads ("" for the default source); none for an input that is
// not the server's.
std::optional<std::string> serverSourceOf(const std::string& input) {
  if (input == "pulse") return std::string();
  if (startsWith(input, "pulse:")) return input.substr(6);
  return std::nullopt;
}

}  // namespace

AVAudioSessionPortDescription::AVAudioSessionPortDescription(
    std::string uid, std::string name, std::string type,
    std::vector<AVAudioSessionDataSourceDescriptionRef> dataSources)
    : uid_(std::move(uid)), portName_(std::move(name)), portType_(std::move(type)),
      dataSources_(std::move(dataSources)) {}

AVAudioSessionDataSourceDescriptionRef AVAudioSessionPortDescription::preferredDataSource() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return preferred_;
}

AVAudioSessionDataSourceDescriptionRef AVAudioSessionPortDescription::selectedDataSource() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (preferred_) return preferred_;
  if (active_) return active_;
  return dataSources_.empty() ? nullptr : dataSources_.front();
}

void AVAudioSessionPortDescription::setActiveDataSource(const AVAudioSessionDataSourceDescriptionRef& ds) {
  if (!ds || std::find(dataSources_.begin(), dataSources_.end(), ds) == dataSources_.end()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = ds;
}

bool AVAudioSessionPortDescription::setPreferredDataSource(const AVAudioSessionDataSourceDescriptionRef& ds,
                                                           NSErrorRef* error) {
  if (ds && std::find(dataSources_.begin(), dataSources_.end(), ds) == dataSources_.end()) {
    if (error) *error = sessionError(-50, "The data source does not belong to the port " + portName_ + ".");
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  preferred_ = ds;
  return true;
}

std::string AVAudioSessionPortDescription::description() const {
  std::string text = "<Port: " + portName_ + " (" + portType_ + "), UID: " + uid_;
  if (auto selected = selectedDataSource()) text += ", selected data source: " + selected->dataSourceName();
  return text + ">";
}

std::string AVAudioSessionRouteDescription::description() const {
  std::string text = "<Route: inputs = (";
  for (size_t i = 0; i < inputs.size(); ++i) text += (i ? ", " : "") + inputs[i]->description();
  text += "); outputs = (";
  for (size_t i = 0; i < outputs.size(); ++i) text += (i ? ", " : "") + outputs[i]->description();
  return text + ")>";
}

AVAudioSession& AVAudioSession::sharedInstance() {
  static AVAudioSession* session = new AVAudioSession();  // lives as long as the process
  return *session;
}

bool AVAudioSession::setCategory(const std::string& category, uint64_t options, NSErrorRef* error) {
  if (category.empty()) {
    if (error) *error = sessionError(-50, "No category.");
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  category_ = category;
  options_ = options;
  return true;
}
std::string AVAudioSession::category() const { std::lock_guard<std::mutex> l(mutex_); return category_; }
uint64_t AVAudioSession::categoryOptions() const { std::lock_guard<std::mutex> l(mutex_); return options_; }

bool AVAudioSession::setMode(const std::string& mode, NSErrorRef* error) {
  if (mode.empty()) {
    if (error) *error = sessionError(-50, "No mode.");
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  mode_ = mode;
  return true;
}
std::string AVAudioSession::mode() const { std::lock_guard<std::mutex> l(mutex_); return mode_; }

bool AVAudioSession::setPreferredIOBufferDuration(double seconds, NSErrorRef* error) {
  if (!(seconds >= 0.001 && seconds <= 0.5)) {
    if (error) *error = sessionError(-50, "The I/O buffer duration must be between 0.001 and 0.5 s.");
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  preferredIOBufferDuration_ = seconds;
  return true;
}
double AVAudioSession::preferredIOBufferDuration() const { std::lock_guard<std::mutex> l(mutex_); return preferredIOBufferDuration_; }

uint32_t AVAudioSession::preferredFramesPerBuffer() const {
  double frames = std::round(preferredIOBufferDuration() * kAudioSampleRate);
  return uint32_t(std::clamp(frames, 32.0, 4096.0));
}

bool AVAudioSession::setPreferredSampleRate(double rate, NSErrorRef* error) {
  if (!(rate > 0 && rate <= 768000)) {
    if (error) *error = sessionError(-50, "Invalid sample rate.");
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  preferredSampleRate_ = rate;
  return true;
}

bool AVAudioSession::setActive(bool active, NSErrorRef*) {
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = active;
  return true;
}

std::string AVAudioSession::effectiveSpecLocked() const {
  if (preferredInput_ && startsWith(preferredInput_->UID(), "pulse:")) return preferredInput_->UID();
  if (inputSpec_) return *inputSpec_;
  if (const char* env = std::getenv("SA_AUDIO_INPUT"); env && *env) return env;
  return "pulse";
}

void AVAudioSession::setInputSpec(const std::string& input) {
  std::lock_guard<std::mutex> lock(mutex_);
  inputSpec_ = input;
}

std::string AVAudioSession::inputSpec() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return effectiveSpecLocked();
}

void AVAudioSession::setInputBackend(std::shared_ptr<AudioInputBackend> backend) {
  std::lock_guard<std::mutex> lock(mutex_);
  overrideBackend_ = std::move(backend);
}

std::shared_ptr<AudioInputBackend> AVAudioSession::backendForSpecLocked(const std::string& input, OSStatus* status) {
  if (status) *status = noErr;
  for (auto& b : backends_)
    if (b->identifier() == input) return b;
  std::shared_ptr<AudioInputBackend> backend;
  if (input == "test") {
    backend = TestAudioInput::create("test");
  } else if (startsWith(input, "file:")) {
    // Not logged here: every unit that starts asks again, and the caller says once, in words,
    // what is wrong (describeInputProblem).
    OSStatus s = noErr;
    backend = FileAudioInput::create(input.substr(5), &s);
    if (!backend) {
      if (status) *status = s;
      return nullptr;
    }
  } else {
    if (status) *status = kAudio_ParamError;
    return nullptr;
  }
  backends_.push_back(backend);
  return backend;
}

void AVAudioSession::setOutputBackend(std::shared_ptr<AudioOutputBackend> backend) {
  std::lock_guard<std::mutex> lock(mutex_);
  overrideOutput_ = std::move(backend);
}

std::shared_ptr<AudioOutputBackend> AVAudioSession::outputBackend() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (overrideOutput_) return overrideOutput_;
  }
  // Begins connecting when no connection is ready (none is waited for).
  return PulseAudioOutput::sharedIfReachable();
}

std::shared_ptr<AudioInputBackend> AVAudioSession::inputBackend(OSStatus* status) {
  std::lock_guard<std::mutex> routing(routingMutex_);
  std::shared_ptr<AudioInputBackend> backend;
  const OSStatus followed = followInputInEffectLocked(true, &backend);
  if (status) *status = followed;
  return backend;
}

OSStatus AVAudioSession::followInputInEffectLocked(bool start, std::shared_ptr<AudioInputBackend>* backend) {
  if (backend) backend->reset();
  for (;;) {
    std::shared_ptr<PulseAudioInput> capture;
    std::string source, chosen;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (overrideBackend_) {
        if (backend) *backend = overrideBackend_;
        return noErr;
      }
      const std::string input = effectiveSpecLocked();
      const auto server = serverSourceOf(input);
      if (!server || (!serverCapture_ && !start)) {
        // Units on a file or the test input do not capture from the server; without a capture
        // of the server nothing moves.
        if (!start) return noErr;
        OSStatus status = noErr;
        auto other = backendForSpecLocked(input, &status);
        if (backend) *backend = other;
        return status;
      }
      if (!serverCapture_) serverCapture_ = PulseAudioInput::create(*server);
      capture = serverCapture_;
      source = *server;
      if (preferredInput_ && preferredInput_->UID() == input) chosen = input;
    }
    // A chosen source that the server's last list no longer has is gone, whether or not the news
    // of its going has reached the main thread yet: it is chosen no more, and the input then in
    // effect is read. (One that goes after that list fails the capture, and is forgotten then.)
    if (!chosen.empty() && pulse::sourceMissing(source) && forgetChoice(chosen)) continue;
    // The server's one capture reads the input in effect now: the server may have moved it away
    // since, or another input may have been named.
    OSStatus status = capture->moveToSource(source);
    if (status == noErr && start) status = capture->startCapturing();
    if (backend && status == noErr) *backend = capture;
    return status;
  }
}

bool AVAudioSession::forgetChoice(const std::string& uid) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!preferredInput_ || preferredInput_->UID() != uid) return false;
  preferredInput_.reset();
  chosenRoute_.clear();
  return true;
}

void AVAudioSession::serverCaptureLeftItsSource() {
  std::lock_guard<std::mutex> routing(routingMutex_);
  // When the input in effect is a source the server does not have, the capture fails for it: the
  // units on it stop, and their engines wait for the source, saying that it is gone.
  if (const OSStatus status = followInputInEffectLocked(false, nullptr); status != noErr)
    NSLog("The capture did not move to the input in effect: %s", AudioStatusDescription(status).c_str());
}

void AVAudioSession::serverCaptureMoved(const std::string& previousSource) {
  postRouteChange(AVAudioSessionRouteChangeReasonRouteConfigurationChange,
                  previousSource.empty() ? "<Route: inputs = ()>" : "<Route: inputs = (pulse:" + previousSource + ")>");
}

bool AVAudioSession::serverCaptureFailed(PulseAudioInput& capture, OSStatus status, const std::string& source) {
  std::lock_guard<std::mutex> routing(routingMutex_);
  std::string chosen;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (serverCapture_.get() != &capture) return false;
    if (preferredInput_ && preferredInput_->UID() == "pulse:" + source) chosen = preferredInput_->UID();
  }
  if (status == kAudioHardwareBadDeviceError && !source.empty()) NSLog("The audio source %s is gone", source.c_str());
  // A chosen source the server does not have is gone: it is chosen no more, and the capture reads
  // the input then in effect, its units with it.
  if (status != kAudioHardwareBadDeviceError || chosen.empty() || !forgetChoice(chosen)) return false;
  if (const OSStatus moved = followInputInEffectLocked(false, nullptr); moved != noErr)
    NSLog("The capture did not move to the input in effect: %s", AudioStatusDescription(moved).c_str());
  return true;
}

OSStatus AVAudioSession::moveServerCapture() {
  std::shared_ptr<PulseAudioInput> capture;
  std::optional<std::string> source;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    capture = serverCapture_;
    if (!overrideBackend_) source = serverSourceOf(effectiveSpecLocked());
  }
  // Units on a file or the test input do not capture from the server: nothing moves for them.
  if (!capture || !source) return noErr;
  return capture->moveToSource(*source);
}

namespace {
bool isKnownInputKind(const std::string& input) {
  return input == "test" || input == "pulse" || startsWith(input, "pulse:") || startsWith(input, "file:");
}

// Why a file cannot be an input, before libsndfile is asked: the reasons a status cannot tell.
std::string fileProblem(const std::string& path) {
  struct stat st;
  if (path.empty()) return "no file named";
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? AudioStatusDescription(kAudio_FileNotFoundError) : std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  return "";
}
}  // namespace

std::string AVAudioSession::describeInputProblem(OSStatus status) {
  std::string input;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (overrideBackend_) return overrideBackend_->identifier() + ": " + AudioStatusDescription(status);
    input = effectiveSpecLocked();
  }
  if (!isKnownInputKind(input))
    return "unknown audio input \"" + input + "\" (use pulse, pulse:<source>, file:<path> or test)";
  if (startsWith(input, "file:")) {
    const std::string path = input.substr(5);
    std::string problem = fileProblem(ns::pathFromFileURL(path).value_or(path));
    if (problem.empty()) problem = AudioStatusDescription(status);
    return "\"" + path + "\": " + problem;
  }
  if (status == kAudioHardwareBadDeviceError) {
    if (input == "pulse") return "the audio server has no default audio source (" + FormatOSStatus(status) + ")";
    return "no audio source \"" + input.substr(6) + "\" on the audio server (" + FormatOSStatus(status) + ")";
  }
  return AudioStatusDescription(status);
}

bool AVAudioSession::isTransientInputFailure(OSStatus status) {
  return status == kAudioUnitErr_NoConnection || status == kAudioHardwareBadDeviceError;
}

AVAudioSession::InputCheck AVAudioSession::checkInput(double serverSeconds) {
  InputCheck check;
  std::string input;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (overrideBackend_) return check;
    input = effectiveSpecLocked();
  }
  auto refuse = [&](InputCheck::Result result, OSStatus status, std::string problem) {
    check.result = result;
    check.status = status;
    check.problem = std::move(problem);
    return check;
  };
  if (!isKnownInputKind(input)) return refuse(InputCheck::Unusable, kAudio_ParamError, describeInputProblem(kAudio_ParamError));
  if (startsWith(input, "pulse")) {
    if (serverSeconds > 0) pulse::waitForSources(serverSeconds);
    std::string error;
    if (!pulse::ensureConnected(&error)) {
      // A connection being made has not been refused: the chart says so if it is.
      if (pulse::connectionAlive()) return check;
      return refuse(InputCheck::Unavailable, kAudioUnitErr_NoConnection,
                    AudioStatusDescription(kAudioUnitErr_NoConnection) + ": " + error);
    }
    if (input == "pulse") return check;  // a default source that is missing may still appear
    const std::string name = input.substr(6);
    bool known = false;
    const auto sources = pulse::listSources(&known);
    if (!known) return check;  // the server has not listed its sources yet
    std::string names;
    for (const auto& source : sources) {
      if (source.name == name) return check;
      names += (names.empty() ? "" : ", ") + source.name;
    }
    return refuse(InputCheck::Unusable, kAudioHardwareBadDeviceError,
                  describeInputProblem(kAudioHardwareBadDeviceError) +
                      (names.empty() ? "; the server has no sources" : "; its sources: " + names));
  }
  if (startsWith(input, "file:")) {
    OSStatus status = noErr;
    if (!inputBackend(&status)) return refuse(InputCheck::Unusable, status, describeInputProblem(status));
  }
  return check;
}

std::vector<AVAudioSessionPortDescriptionRef> AVAudioSession::availableInputs() {
  std::string input;
  std::shared_ptr<AudioInputBackend> override;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    override = overrideBackend_;
    input = effectiveSpecLocked();
  }
  std::vector<AVAudioSessionPortDescriptionRef> ports;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (testPorts_) return *testPorts_;
  }
  auto keep = [&](AVAudioSessionPortDescriptionRef fresh) {
    // Reuse the port object already handed out, so preferred data sources stick.
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& p : knownPorts_)
      if (p->UID() == fresh->UID() && p->portName() == fresh->portName() &&
          p->dataSources().size() == fresh->dataSources().size()) {
        // The device may have switched to another of its data sources since.
        if (auto active = fresh->selectedDataSource()) {
          for (const auto& ds : p->dataSources())
            if (ds->dataSourceID() == active->dataSourceID()) p->setActiveDataSource(ds);
        }
        ports.push_back(p);
        return;
      }
    knownPorts_.push_back(fresh);
    ports.push_back(fresh);
  };
  if (override) {
    const std::string id = override->identifier();
    if (startsWith(id, "file:")) {
      keep(AVAudioSessionPortForFileInput(id));
    } else {
      keep(std::make_shared<AVAudioSessionPortDescription>(
          id, "Test Input", AVAudioSessionPortBuiltInMic,
          std::vector<AVAudioSessionDataSourceDescriptionRef>{
              std::make_shared<AVAudioSessionDataSourceDescription>(1, "Front", AVAudioSessionOrientationFront),
              std::make_shared<AVAudioSessionDataSourceDescription>(2, "Bottom", AVAudioSessionOrientationBottom)}));
    }
    return ports;
  }
  if (startsWith(input, "file:")) {
    keep(AVAudioSessionPortForFileInput(input));
  } else if (input == "test") {
    keep(std::make_shared<AVAudioSessionPortDescription>("test", "Test Input", AVAudioSessionPortBuiltInMic));
  }
  if (startsWith(input, "pulse") || std::getenv("PULSE_SERVER")) {
    std::vector<std::string> uids;
    bool known = false;
    for (const auto& s : pulse::listSources(&known)) {
      if (auto port = AVAudioSessionPortForSource(s)) {
        uids.push_back(port->UID());
        keep(std::move(port));
      }
    }
    // The first listing of the server is what its later changes are reckoned from.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!listedInputUIDs_ && known) listedInputUIDs_ = std::move(uids);
  }
  return ports;
}

bool AVAudioSession::setPreferredInput(const AVAudioSessionPortDescriptionRef& port, NSErrorRef* error) {
  if (port) {
    auto inputs = availableInputs();
    auto it = std::find_if(inputs.begin(), inputs.end(), [&](auto& p) { return p->UID() == port->UID(); });
    if (it == inputs.end()) {
      if (error) *error = sessionError(-50, "The port " + port->portName() + " is not an available input.");
      return false;
    }
  }
  std::lock_guard<std::mutex> routing(routingMutex_);
  const std::string previous = currentRoute().description();
  applyServerDataSource(port);
  std::string route;
  if (port) {
    route = port->UID();
    if (auto source = port->preferredDataSource()) {
      route.push_back('#');
      route.append(std::to_string(source->dataSourceID()));
    }
  }
  AVAudioSessionPortDescriptionRef preferredBefore;
  std::string chosenBefore;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    preferredBefore = preferredInput_;
    chosenBefore = chosenRoute_;
    preferredInput_ = port;
    chosenRoute_ = route;
  }
  // Every capture of the process follows the choice, the units running now included: also when
  // the same input is chosen again, for the server may have moved the capture away meanwhile.
  if (const OSStatus status = moveServerCapture(); status != noErr) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      preferredInput_ = preferredBefore;
      chosenRoute_ = chosenBefore;
    }
    if (error) {
      const std::string name = port ? port->portName() : std::string("the default input");
      *error = sessionError(status, "The capture cannot move to " + name + ": " + AudioStatusDescription(status) + ".");
    }
    return false;
  }
  if (route != chosenBefore) postRouteChangeOnMain(AVAudioSessionRouteChangeReasonOverride, previous);
  return true;
}

AVAudioSessionPortDescriptionRef AVAudioSession::preferredInput() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return preferredInput_;
}

std::string AVAudioSession::currentInputUID() {
  std::string current;
  std::shared_ptr<PulseAudioInput> capture;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The chosen input is the route's; else the input that captures.
    if (preferredInput_) current = preferredInput_->UID();
    else if (overrideBackend_) current = overrideBackend_->identifier();
    else current = effectiveSpecLocked();
    capture = serverCapture_;
  }
  if (current == "pulse") {
    // The server's default source: the one its running capture was given, else the one it would give.
    std::string name = capture ? capture->capturedSourceName() : std::string();
    if (name.empty()) name = pulse::defaultSourceName();
    if (!name.empty()) current = "pulse:" + name;
  }
  return current;
}

std::shared_ptr<AudioInputBackend> AVAudioSession::backendInEffect() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (overrideBackend_) return overrideBackend_;
  const std::string input = effectiveSpecLocked();
  if (serverSourceOf(input)) return serverCapture_;
  for (const auto& b : backends_)
    if (b->identifier() == input) return b;
  return nullptr;
}

std::optional<double> AVAudioSession::currentInputDeliverableSince() {
  const auto backend = backendInEffect();
  return backend ? backend->deliverableSince() : std::nullopt;
}

bool AVAudioSession::currentInputAwaitsNewSource() {
  const auto backend = backendInEffect();
  return backend && backend->awaitsNewSource();
}

AVAudioSessionRouteDescription AVAudioSession::currentRoute() {
  AVAudioSessionRouteDescription route;
  auto inputs = availableInputs();
  const std::string current = currentInputUID();
  for (auto& p : inputs)
    if (p->UID() == current) route.inputs.push_back(p);
  route.outputs.push_back(std::make_shared<AVAudioSessionPortDescription>("speaker", "Speaker", AVAudioSessionPortBuiltInSpeaker));
  return route;
}

void AVAudioSession::postInterruption(AVAudioSessionInterruptionType type) {
  NSNotificationCenter::defaultCenter().postNotificationName(
      AVAudioSessionInterruptionNotification, notificationObject(),
      Value{{AVAudioSessionInterruptionTypeKey, int64_t(type)}});
}

void AVAudioSession::postRouteChange(AVAudioSessionRouteChangeReason reason, const std::string& previousRoute) {
  NSNotificationCenter::defaultCenter().postNotificationName(
      AVAudioSessionRouteChangeNotification, notificationObject(),
      Value{{AVAudioSessionRouteChangeReasonKey, int64_t(reason)},
            {AVAudioSessionRouteChangePreviousRouteKey, previousRoute}});
}

void AVAudioSession::postMediaServicesReset() {
  {
    // The old server's stream is gone: the next unit opens a new one.
    std::lock_guard<std::mutex> lock(mutex_);
    serverCapture_.reset();
  }
  NSNotificationCenter::defaultCenter().postNotificationName(AVAudioSessionMediaServicesWereResetNotification,
                                                             notificationObject(), Value::object());
}
