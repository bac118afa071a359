#include "platform/audio/PulseAudioConnection.h"

#include <pulse/pulseaudio.h>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioCallbackGuard.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/ApplicationName.h"

namespace pulse {

Connection& Connection::shared() {
  static Connection* c = new Connection();
  return *c;
}

void postOnMain(std::function<void()> block) noexcept {
  audio::runGuarded("Posting a PulseAudio event", [&] { DispatchQueue::main()->async(std::move(block)); });
}

bool waitWithTimeout(pa_threaded_mainloop* mainloop, const std::function<std::optional<bool>()>& ready,
                     bool* timedOut) {
  *timedOut = false;
  bool expired = false;
  struct Alarm {
    pa_threaded_mainloop* mainloop;
    bool* expired;
  } alarm{mainloop, &expired};
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop);
  timeval when;
  pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(kReadyTimeoutMilliseconds) * PA_USEC_PER_MSEC);
  pa_time_event* event = api->time_new(
      api, &when,
      [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
        auto* a = static_cast<Alarm*>(userdata);
        *a->expired = true;
        pa_threaded_mainloop_signal(a->mainloop, 0);
      },
      &alarm);
  std::optional<bool> result;
  while (!(result = ready())) {
    if (expired) {
      *timedOut = true;
      result = false;
      break;
    }
    pa_threaded_mainloop_wait(mainloop);
  }
  if (event) api->time_free(event);
  return *result;
}

namespace {

void onSubscription(pa_context*, pa_subscription_event_type_t type, uint32_t, void*) {
  const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (facility != PA_SUBSCRIPTION_EVENT_SOURCE) return;
  // The session lists the inputs again and posts what changed for them (monitors are no inputs).
  if (kind == PA_SUBSCRIPTION_EVENT_NEW) {
    postOnMain([] { AVAudioSession::sharedInstance().serverSourcesChanged(true); });
  } else if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
    postOnMain([] { AVAudioSession::sharedInstance().serverSourcesChanged(false); });
  }
}

void onContextState(pa_context* context, void* userdata) {
  auto* c = static_cast<Connection*>(userdata);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      c->ready = true;
      c->everReady = true;
      pa_threaded_mainloop_signal(c->mainloop, 0);
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
      const bool wasReady = c->ready;
      c->ready = false;
      pa_threaded_mainloop_signal(c->mainloop, 0);
      // A server that went away is the platform's media-services reset: engines rebuild.
      if (wasReady) postOnMain([] { AVAudioSession::sharedInstance().postMediaServicesReset(); });
      break;
    }
    default:
      break;
  }
}

// Runs an introspection operation and waits for it; `start` returns the operation.
template <class Start>
void runOperation(Start start) {
  Connection& c = Connection::shared();
  pa_threaded_mainloop_lock(c.mainloop);
  if (c.context && c.ready) {
    if (pa_operation* op = start(c.context)) {
      while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && c.ready)
        pa_threaded_mainloop_wait(c.mainloop);
      pa_operation_unref(op);
    }
  }
  pa_threaded_mainloop_unlock(c.mainloop);
}

}  // namespace

bool ensureConnected(std::string* error) {
  Connection& c = Connection::shared();
  std::lock_guard<std::mutex> guard(c.mutex);
  if (!c.mainloop) {
    c.mainloop = pa_threaded_mainloop_new();
    if (!c.mainloop || pa_threaded_mainloop_start(c.mainloop) < 0) {
      if (error) *error = "cannot start the PulseAudio main loop";
      if (c.mainloop) pa_threaded_mainloop_free(c.mainloop);
      c.mainloop = nullptr;
      return false;
    }
  }
  pa_threaded_mainloop_lock(c.mainloop);
  if (c.context && c.ready) {
    pa_threaded_mainloop_unlock(c.mainloop);
    return true;
  }
  if (c.context) {
    pa_context_disconnect(c.context);
    pa_context_unref(c.context);
    c.context = nullptr;
  }
  // A server that answered before was lost: what the new one has is compared with what it had.
  const bool reconnecting = c.everReady;
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, kApplicationName);
  c.context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(c.mainloop), kApplicationName, props);
  pa_proplist_free(props);
  c.ready = false;
  ++c.generation;
  pa_context_set_state_callback(c.context, onContextState, &c);
  if (pa_context_connect(c.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    if (error) *error = pa_strerror(pa_context_errno(c.context));
    pa_context_unref(c.context);
    c.context = nullptr;
    pa_threaded_mainloop_unlock(c.mainloop);
    return false;
  }
  bool timedOut = false;
  const bool ready = waitWithTimeout(
      c.mainloop,
      [&]() -> std::optional<bool> {
        const pa_context_state_t state = pa_context_get_state(c.context);
        if (state == PA_CONTEXT_READY) return true;
        if (!PA_CONTEXT_IS_GOOD(state)) return false;
        return std::nullopt;
      },
      &timedOut);
  if (!ready) {
    if (error) *error = timedOut ? "the audio server does not answer" : pa_strerror(pa_context_errno(c.context));
    pa_context_set_state_callback(c.context, nullptr, nullptr);
    pa_context_disconnect(c.context);
    pa_context_unref(c.context);
    c.context = nullptr;
    pa_threaded_mainloop_unlock(c.mainloop);
    return false;
  }
  pa_context_set_subscribe_callback(c.context, onSubscription, nullptr);
  if (pa_operation* op = pa_context_subscribe(c.context, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr))
    pa_operation_unref(op);
  pa_threaded_mainloop_unlock(c.mainloop);
  if (reconnecting) postOnMain([] { AVAudioSession::sharedInstance().serverReconnected(); });
  return true;
}

std::vector<PulseSourceInfo> listSources() {
  std::vector<PulseSourceInfo> result;
  if (!ensureConnected()) return result;
  runOperation([&](pa_context* ctx) {
    return pa_context_get_source_info_list(
        ctx,
        [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
          auto* out = static_cast<std::vector<PulseSourceInfo>*>(userdata);
          if (eol || !info) {
            pa_threaded_mainloop_signal(Connection::shared().mainloop, 0);
            return;
          }
          // A source that cannot be copied (no memory) is left out of the list.
          audio::runGuarded("Listing a PulseAudio source", [&] {
            PulseSourceInfo s;
            s.name = info->name ? info->name : "";
            s.description = info->description ? info->description : s.name;
            s.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
            if (const char* bus = pa_proplist_gets(info->proplist, "device.bus")) s.bus = bus;
            if (const char* ff = pa_proplist_gets(info->proplist, "device.form_factor")) s.formFactor = ff;
            for (uint32_t i = 0; i < info->n_ports; ++i) {
              s.portNames.push_back(info->ports[i]->name ? info->ports[i]->name : "");
              s.portDescriptions.push_back(info->ports[i]->description ? info->ports[i]->description : "");
            }
            if (info->active_port && info->active_port->name) s.activePort = info->active_port->name;
            out->push_back(std::move(s));
          });
        },
        &result);
  });
  return result;
}

pa_threaded_mainloop* sharedMainloop() {
  Connection& c = Connection::shared();
  std::lock_guard<std::mutex> guard(c.mutex);
  return c.mainloop;
}

pa_context* sharedContext() {
  // The caller holds the main loop's lock. A reconnection replaces the context only with both
  // that lock and the connection's mutex held, so the lock alone is enough to read it; taking
  // the mutex here, under the main loop's lock, would invert ensureConnected's order.
  Connection& c = Connection::shared();
  return c.context && c.ready ? c.context : nullptr;
}

std::string defaultSourceName() {
  std::string name;
  if (!ensureConnected()) return name;
  runOperation([&](pa_context* ctx) {
    return pa_context_get_server_info(
        ctx,
        [](pa_context*, const pa_server_info* info, void* userdata) {
          audio::runGuarded("Reading the PulseAudio server's information", [&] {
            if (info && info->default_source_name) *static_cast<std::string*>(userdata) = info->default_source_name;
          });
          pa_threaded_mainloop_signal(Connection::shared().mainloop, 0);
        },
        &name);
  });
  return name;
}

bool waitForStreamReady(pa_threaded_mainloop* mainloop, pa_stream* stream, bool* timedOut) {
  return waitWithTimeout(
      mainloop,
      [stream]() -> std::optional<bool> {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) return true;
        if (!PA_STREAM_IS_GOOD(state)) return false;
        return std::nullopt;
      },
      timedOut);
}

}  // namespace pulse
