#include "platform/audio/AVAudioSessionPorts.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <set>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"

namespace {

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

constexpr const char* kServerPrefix = "pulse:";

// A text of the server (or a file's name) as a port's name: well-formed and short enough to be
// kept (the server's descriptions have no length limit of their own).
std::string portName(std::string_view text) {
  return std::string(ns::prefixUTF8(ns::validUTF8(text), kAVAudioSessionMaxPortNameBytes));
}

}  // namespace

std::string AVAudioSessionPortTypeForSource(const PulseSourceInfo& s) {
  if (s.bus == "bluetooth") return AVAudioSessionPortBluetoothHFP;
  if (s.bus == "usb") return AVAudioSessionPortUSBAudio;
  if (s.formFactor == "headset" || s.formFactor == "headphone") return AVAudioSessionPortHeadsetMic;
  if (contains(s.activePort, "headset") || contains(s.activePort, "headphone")) return AVAudioSessionPortHeadsetMic;
  if (contains(s.activePort, "linein") || contains(s.activePort, "line-in")) return AVAudioSessionPortLineIn;
  return AVAudioSessionPortBuiltInMic;
}

AVAudioSessionPortDescriptionRef AVAudioSessionPortForFileInput(const std::string& uid) {
  std::string name = uid.rfind("file:", 0) == 0 ? uid.substr(5) : uid;
  if (auto slash = name.find_last_of('/'); slash != std::string::npos) name = name.substr(slash + 1);
  auto source = std::make_shared<AVAudioSessionDataSourceDescription>(0, name.empty() ? "audio file" : portName(name), "");
  return std::make_shared<AVAudioSessionPortDescription>(
      uid, "File", AVAudioSessionPortBuiltInMic, std::vector<AVAudioSessionDataSourceDescriptionRef>{source});
}

AVAudioSessionPortDescriptionRef AVAudioSessionPortForSource(const PulseSourceInfo& s) {
  if (s.isMonitor) return nullptr;
  // The UID names the source to the server again: it is kept whole or not at all.
  if (std::string(kServerPrefix).size() + s.name.size() > kAVAudioSessionMaxPortUIDBytes || !ns::isValidUTF8(s.name))
    return nullptr;
  std::vector<AVAudioSessionDataSourceDescriptionRef> sources;
  AVAudioSessionDataSourceDescriptionRef active;
  const std::string type = AVAudioSessionPortTypeForSource(s);
  const std::string name = portName(s.description.empty() ? s.name : s.description);
  if (s.portNames.size() > 1) {
    for (size_t i = 0; i < s.portNames.size(); ++i) {
      const std::string description = i < s.portDescriptions.size() ? s.portDescriptions[i] : "";
      auto source = std::make_shared<AVAudioSessionDataSourceDescription>(
          int64_t(i), portName(description.empty() ? s.portNames[i] : description), "");
      if (s.portNames[i] == s.activePort) active = source;
      sources.push_back(std::move(source));
    }
  } else if (type == AVAudioSessionPortBuiltInMic) {
    // A built-in microphone is always told apart by its data source: an input without one is
    // named as an external microphone. So the one microphone of a source with a single port (or
    // none) is its data source, named by that port, else by the source itself.
    std::string sourceName = name;
    if (!s.portNames.empty()) {
      const std::string description = s.portDescriptions.empty() ? "" : s.portDescriptions[0];
      sourceName = portName(description.empty() ? s.portNames[0] : description);
    }
    active = std::make_shared<AVAudioSessionDataSourceDescription>(0, sourceName, "");
    sources.push_back(active);
  }
  auto port = std::make_shared<AVAudioSessionPortDescription>(kServerPrefix + s.name, name, type, std::move(sources));
  if (active) port->setActiveDataSource(active);
  return port;
}

namespace pulse {

bool setSourceActivePort(const std::string& source, const std::string& port, std::string* error) {
  if (!ensureConnected(error)) return false;
  pa_threaded_mainloop* mainloop = sharedMainloop();
  struct Request {
    std::string source, port;
  };
  pa_threaded_mainloop_lock(mainloop);
  pa_context* context = sharedContext();
  auto* request = new Request{source, port};
  pa_operation* op = context ? pa_context_set_source_port_by_name(
                                   context, source.c_str(), port.c_str(),
                                   [](pa_context* c, int success, void* userdata) {
                                     auto* r = static_cast<Request*>(userdata);
                                     if (!success)
                                       NSLog("The audio server did not switch \"%s\" to \"%s\": %s", r->source.c_str(),
                                             r->port.c_str(), pa_strerror(pa_context_errno(c)));
                                   },
                                   request)
                             : nullptr;
  if (op) {
    // Freed once the request is done, or cancelled with its connection (which never answers it).
    pa_operation_set_state_callback(
        op,
        [](pa_operation* o, void* userdata) {
          if (pa_operation_get_state(o) != PA_OPERATION_RUNNING) delete static_cast<Request*>(userdata);
        },
        request);
    pa_operation_unref(op);
  } else {
    delete request;
    if (error) *error = context ? pa_strerror(pa_context_errno(context)) : "no audio server";
  }
  pa_threaded_mainloop_unlock(mainloop);
  return op != nullptr;
}

}  // namespace pulse

// ---- The session's side ----

void AVAudioSession::setPortsForTesting(std::optional<std::vector<AVAudioSessionPortDescriptionRef>> ports) {
  std::lock_guard<std::mutex> lock(mutex_);
  testPorts_ = std::move(ports);
  listedInputUIDs_.reset();
}

void AVAudioSession::resetForTesting() {
  std::lock_guard<std::mutex> routing(routingMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    inputSpec_.reset();
    preferredInput_.reset();
    chosenRoute_.clear();
    overrideBackend_.reset();
    overrideOutput_.reset();
    serverCapture_.reset();
    backends_.clear();
    knownPorts_.clear();
    testPorts_.reset();
    listedInputUIDs_.reset();
  }
  pulse::forgetServer();
}

void AVAudioSession::applyServerDataSource(const AVAudioSessionPortDescriptionRef& port) {
  if (!port || port->UID().rfind(kServerPrefix, 0) != 0) return;
  auto chosen = port->preferredDataSource();
  if (!chosen) return;
  const std::string name = port->UID().substr(std::string(kServerPrefix).size());
  for (const auto& source : pulse::listSources()) {
    if (source.name != name) continue;
    const auto index = chosen->dataSourceID();
    if (index < 0 || size_t(index) >= source.portNames.size()) return;
    if (source.portNames[size_t(index)] == source.activePort) return;
    std::string error;
    if (!pulse::setSourceActivePort(name, source.portNames[size_t(index)], &error)) {
      NSLog("The audio server did not switch \"%s\" to \"%s\": %s", name.c_str(), chosen->dataSourceName().c_str(),
            error.c_str());
    }
    return;
  }
}

void AVAudioSession::postRouteChangeOnMain(AVAudioSessionRouteChangeReason reason, const std::string& previousRoute) {
  DispatchQueue::main()->async([reason, previousRoute] {
    AVAudioSession::sharedInstance().postRouteChange(reason, previousRoute);
  });
}

void AVAudioSession::serverSourcesChanged(bool appeared) { relistInputs(appeared); }

void AVAudioSession::serverReconnected() { relistInputs(std::nullopt); }

void AVAudioSession::relistInputs(std::optional<bool> appeared) {
  std::optional<std::vector<std::string>> before;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    before = listedInputUIDs_;
  }
  std::string previous;
  if (before) {
    previous = "<Route: inputs = (";
    for (size_t i = 0; i < before->size(); ++i) previous += (i ? ", " : "") + (*before)[i];
    previous += ")>";
  }
  std::vector<std::string> now;
  for (const auto& port : availableInputs()) now.push_back(port->UID());
  {
    // A chosen source of the server that is gone is chosen no more, before anyone hears of the
    // change: the route then reports the input in effect, which the capture moves to, and choosing
    // that source again when it returns is a change.
    std::lock_guard<std::mutex> routing(routingMutex_);
    bool chosenWent = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      listedInputUIDs_ = now;
      if (preferredInput_ && preferredInput_->UID().rfind(kServerPrefix, 0) == 0 &&
          std::find(now.begin(), now.end(), preferredInput_->UID()) == now.end()) {
        preferredInput_.reset();
        chosenRoute_.clear();
        chosenWent = true;
      }
    }
    if (chosenWent) {
      // A source named as the input that is gone too is the capture's own news: it has left it.
      const OSStatus status = followInputInEffectLocked(false, nullptr);
      if (status != noErr && status != kAudioHardwareBadDeviceError)
        NSLog("The capture did not move to the input in effect: %s", AudioStatusDescription(status).c_str());
    }
  }
  if (!before) {
    // No listing to compare with: the server's word is all there is.
    if (appeared)
      postRouteChange(*appeared ? AVAudioSessionRouteChangeReasonNewDeviceAvailable
                                : AVAudioSessionRouteChangeReasonOldDeviceUnavailable,
                      previous);
    return;
  }
  const std::set<std::string> old(before->begin(), before->end()), fresh(now.begin(), now.end());
  const bool added = std::any_of(fresh.begin(), fresh.end(), [&](const auto& uid) { return !old.count(uid); });
  const bool removed = std::any_of(old.begin(), old.end(), [&](const auto& uid) { return !fresh.count(uid); });
  if (added) postRouteChange(AVAudioSessionRouteChangeReasonNewDeviceAvailable, previous);
  if (removed) postRouteChange(AVAudioSessionRouteChangeReasonOldDeviceUnavailable, previous);
}
