#include "platform/audio/PulseAudioConnection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioCallbackGuard.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/ApplicationName.h"
#include "platform/foundation/NSRunLoop.h"

namespace pulse {

struct ResponseTimer {
  pa_time_event* event = nullptr;
};

namespace {

enum class State { Idle, Connecting, Ready, Failed };

std::atomic<uint64_t> gMainThreadWaits{0};  // mainThreadWaits()

// What a listing of the server is to be followed by on the main queue.
enum Posts : unsigned { kPostAppeared = 1, kPostRemoved = 2, kPostReconnected = 4 };

// One answer of the server to "what sources do you have, and which is the default": two requests,
// complete once both are answered.
struct Listing {
  std::vector<PulseSourceInfo> sources;
  std::string defaultSource;
  int outstanding = 2;
  bool failed = false;
  unsigned posts = 0;
};

struct Connection {
  std::mutex startMutex;  // creating the main loop
  std::atomic<pa_threaded_mainloop*> mainloop{nullptr};

  // Changed with the main loop's lock held; read without it too.
  std::atomic<State> state{State::Idle};
  // With the main loop's lock held.
  pa_context* context = nullptr;
  bool everReady = false;  // a server answered before: what a new one has is compared with it
  ResponseTimer* connectTimer = nullptr;
  std::vector<ConnectionClient*> clients;
  std::unique_ptr<Listing> listing;  // the one in flight
  bool relist = false;               // an event came while it was: another follows it
  unsigned pendingPosts = 0;         // what the next listing is to be followed by

  // What readers read without the main loop: the last answer, and why there is no connection.
  std::mutex cacheMutex;
  std::condition_variable answered;  // a listing came into memory, or the connection failed
  std::vector<PulseSourceInfo> sources;
  std::string defaultSource;
  bool known = false;
  std::string failure;

  static Connection& shared() {
    static Connection* c = new Connection();  // lives as long as the process
    return *c;
  }
};

pa_mainloop_api* api() { return pa_threaded_mainloop_get_api(Connection::shared().mainloop.load()); }

void setFailure(std::string reason) {
  Connection& c = Connection::shared();
  {
    std::lock_guard<std::mutex> lock(c.cacheMutex);
    c.failure = std::move(reason);
    c.sources.clear();
    c.defaultSource.clear();
    c.known = false;
  }
  c.answered.notify_all();
}

// Main loop locked: the connection is gone (lost, refused, or dropped for not answering). Its
// clients let go of its streams; `disconnect` when the context still lives (not from inside its
// own failure).
void drop(const std::string& reason, bool disconnect) {
  Connection& c = Connection::shared();
  pa_context* context = c.context;
  c.context = nullptr;
  c.state = State::Failed;
  freeResponseTimer(c.connectTimer);
  // Its requests in flight are cancelled with the context: their callbacks never run.
  c.listing.reset();
  c.relist = false;
  c.pendingPosts = 0;
  setFailure(reason);
  const auto clients = c.clients;
  for (ConnectionClient* client : clients) client->connectionLost(kAudioUnitErr_NoConnection);
  if (!context) return;
  pa_context_set_state_callback(context, nullptr, nullptr);
  pa_context_set_subscribe_callback(context, nullptr, nullptr);
  if (disconnect) pa_context_disconnect(context);
  pa_context_unref(context);
}

void requestListing();

void finishListing(Listing* listing) {
  Connection& c = Connection::shared();
  if (c.listing.get() != listing) return;
  if (!listing->failed) {
    {
      std::lock_guard<std::mutex> lock(c.cacheMutex);
      c.sources = std::move(listing->sources);
      c.defaultSource = std::move(listing->defaultSource);
      c.known = true;
    }
    c.answered.notify_all();
  }
  // The session reads what changed from the listing now in memory.
  const unsigned posts = listing->posts;
  if (posts & kPostReconnected) postOnMain([] { AVAudioSession::sharedInstance().serverReconnected(); });
  if (posts & kPostRemoved) postOnMain([] { AVAudioSession::sharedInstance().serverSourcesChanged(false); });
  if (posts & kPostAppeared) postOnMain([] { AVAudioSession::sharedInstance().serverSourcesChanged(true); });
  c.listing.reset();
  if (c.relist || c.pendingPosts) requestListing();
}

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto* listing = static_cast<Listing*>(userdata);
  audio::runGuarded("Reading the PulseAudio server's information", [&] {
    if (info && info->default_source_name) listing->defaultSource = info->default_source_name;
  });
  if (!info) listing->failed = true;
  if (--listing->outstanding == 0) finishListing(listing);
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* listing = static_cast<Listing*>(userdata);
  if (eol) {
    if (eol < 0) listing->failed = true;
    if (--listing->outstanding == 0) finishListing(listing);
    return;
  }
  if (!info) return;
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
    listing->sources.push_back(std::move(s));
  });
}

// Main loop locked, the connection ready: asks the server for its sources and default source.
void requestListing() {
  Connection& c = Connection::shared();
  if (!c.context || c.state != State::Ready) return;
  auto listing = std::make_unique<Listing>();
  listing->posts = c.pendingPosts;
  c.pendingPosts = 0;
  c.relist = false;
  Listing* raw = listing.get();
  c.listing = std::move(listing);
  for (pa_operation* op : {pa_context_get_server_info(c.context, onServerInfo, raw),
                           pa_context_get_source_info_list(c.context, onSourceInfo, raw)}) {
    if (op) {
      pa_operation_unref(op);
    } else {
      raw->failed = true;
      --raw->outstanding;
    }
  }
  if (raw->outstanding == 0) finishListing(raw);
}

void onSubscription(pa_context*, pa_subscription_event_type_t type, uint32_t, void*) {
  Connection& c = Connection::shared();
  const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  // Sources coming and going are told to the session (which lists the inputs again and posts what
  // changed for them; monitors are no inputs) once the listing that shows them is in memory. A
  // source that changed (its active port) and the server's default source are only kept.
  if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
    if (kind == PA_SUBSCRIPTION_EVENT_NEW) c.pendingPosts |= kPostAppeared;
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) c.pendingPosts |= kPostRemoved;
  } else if (facility != PA_SUBSCRIPTION_EVENT_SERVER) {
    return;
  }
  if (c.listing) {
    c.relist = true;
  } else {
    requestListing();
  }
}

void onContextState(pa_context* context, void*) {
  Connection& c = Connection::shared();
  if (context != c.context) return;
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
      c.state = State::Ready;
      freeResponseTimer(c.connectTimer);
      {
        std::lock_guard<std::mutex> lock(c.cacheMutex);
        c.failure.clear();
      }
      // A server that answered before was lost: what the new one has is compared with what it had.
      if (c.everReady) c.pendingPosts |= kPostReconnected;
      c.everReady = true;
      pa_context_set_subscribe_callback(context, onSubscription, nullptr);
      if (pa_operation* op = pa_context_subscribe(
              context, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER), nullptr, nullptr))
        pa_operation_unref(op);
      requestListing();
      const auto clients = c.clients;
      for (ConnectionClient* client : clients) client->connectionReady();
      break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
      const bool wasReady = c.state == State::Ready;
      drop(wasReady ? "the audio server went away" : pa_strerror(pa_context_errno(context)), false);
      // A server that went away is the platform's media-services reset: engines rebuild.
      if (wasReady) postOnMain([] { AVAudioSession::sharedInstance().postMediaServicesReset(); });
      break;
    }
    default:
      break;
  }
}

// Begins connecting from any thread.
void kick() {
  Connection& c = Connection::shared();
  pa_threaded_mainloop* mainloop = sharedMainloop();
  if (!mainloop || c.state == State::Ready) return;
  if (pa_threaded_mainloop_in_thread(mainloop)) {
    connect();  // the connection's own thread holds the lock already
    return;
  }
  pa_threaded_mainloop_lock(mainloop);
  connect();
  pa_threaded_mainloop_unlock(mainloop);
}

struct Zombie {
  ResponseTimer* timer = nullptr;
};

// A stream let go of before the server made it ready: disconnected once it is, freed once it ends.
void onZombieState(pa_stream* stream, void* userdata) {
  auto* zombie = static_cast<Zombie*>(userdata);
  switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
      freeResponseTimer(zombie->timer);
      pa_stream_disconnect(stream);
      break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
      freeResponseTimer(zombie->timer);
      pa_stream_set_state_callback(stream, nullptr, nullptr);
      pa_stream_unref(stream);
      delete zombie;
      break;
    default:
      break;
  }
}

}  // namespace

void postOnMain(std::function<void()> block) noexcept {
  audio::runGuarded("Posting a PulseAudio event", [&] { DispatchQueue::main()->async(std::move(block)); });
}

pa_threaded_mainloop* sharedMainloop() {
  Connection& c = Connection::shared();
  if (pa_threaded_mainloop* m = c.mainloop.load()) return m;
  std::lock_guard<std::mutex> guard(c.startMutex);
  if (pa_threaded_mainloop* m = c.mainloop.load()) return m;
  pa_threaded_mainloop* m = pa_threaded_mainloop_new();
  if (!m) return nullptr;
  if (pa_threaded_mainloop_start(m) < 0) {
    pa_threaded_mainloop_free(m);
    return nullptr;
  }
  c.mainloop.store(m);
  return m;
}

bool ensureConnected(std::string* error) {
  Connection& c = Connection::shared();
  if (!sharedMainloop()) {
    if (error) *error = "cannot start the PulseAudio main loop";
    return false;
  }
  kick();
  if (c.state == State::Ready) return true;
  if (error) {
    std::lock_guard<std::mutex> lock(c.cacheMutex);
    *error = c.failure.empty() ? "connecting to the audio server" : c.failure;
  }
  return false;
}

bool connectionAlive() {
  Connection& c = Connection::shared();
  if (!sharedMainloop()) return false;
  kick();
  // One reading: the state may turn from connecting to ready between two.
  const State state = c.state.load();
  return state == State::Ready || state == State::Connecting;
}

std::vector<PulseSourceInfo> listSources(bool* known) {
  kick();
  Connection& c = Connection::shared();
  std::lock_guard<std::mutex> lock(c.cacheMutex);
  if (known) *known = c.known;
  return c.sources;
}

bool waitForSources(double seconds) {
  Connection& c = Connection::shared();
  if (!sharedMainloop()) return false;
  kick();
  std::unique_lock<std::mutex> lock(c.cacheMutex);
  // The state turns to failed before the failure is kept under this lock and told: no news is
  // missed between the look and the wait.
  auto answered = [&] { return c.known || c.state.load() == State::Failed; };
  if (!answered() && seconds > 0 && NSRunLoop::isMainThread()) gMainThreadWaits.fetch_add(1);
  c.answered.wait_for(lock, std::chrono::duration<double>(std::max(seconds, 0.0)), answered);
  return c.known;
}

uint64_t mainThreadWaits() { return gMainThreadWaits.load(); }

std::string defaultSourceName() {
  kick();
  Connection& c = Connection::shared();
  std::lock_guard<std::mutex> lock(c.cacheMutex);
  return c.defaultSource;
}

bool sourceMissing(const std::string& name) {
  Connection& c = Connection::shared();
  std::lock_guard<std::mutex> lock(c.cacheMutex);
  return c.known && std::none_of(c.sources.begin(), c.sources.end(), [&](const PulseSourceInfo& s) { return s.name == name; });
}

std::string connectionFailure() {
  Connection& c = Connection::shared();
  std::lock_guard<std::mutex> lock(c.cacheMutex);
  return c.failure;
}

void addClient(ConnectionClient* client) {
  auto& clients = Connection::shared().clients;
  if (std::find(clients.begin(), clients.end(), client) == clients.end()) clients.push_back(client);
}

void removeClient(ConnectionClient* client) {
  auto& clients = Connection::shared().clients;
  clients.erase(std::remove(clients.begin(), clients.end(), client), clients.end());
}

pa_context* sharedContext() {
  Connection& c = Connection::shared();
  return c.state == State::Ready ? c.context : nullptr;
}

bool connecting() { return Connection::shared().state == State::Connecting; }

void connect() {
  Connection& c = Connection::shared();
  if (c.state == State::Connecting || c.state == State::Ready) return;
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, kApplicationName);
  pa_context* context = pa_context_new_with_proplist(api(), kApplicationName, props);
  pa_proplist_free(props);
  if (!context) {
    drop("cannot make a PulseAudio context", false);
    return;
  }
  c.context = context;
  c.state = State::Connecting;
  // A server that accepts the connection but never answers must not leave it waiting for good.
  c.connectTimer = armResponseTimer();
  pa_context_set_state_callback(context, onContextState, nullptr);
  // A refusal may come at once, through the state callback, which has dropped the context then.
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 && c.context == context)
    drop(pa_strerror(pa_context_errno(context)), false);
}

void forgetServer() {
  Connection& c = Connection::shared();
  pa_threaded_mainloop* mainloop = c.mainloop.load();
  if (!mainloop) return;
  pa_threaded_mainloop_lock(mainloop);
  if (c.context) drop("", true);
  c.state = State::Idle;
  c.everReady = false;
  setFailure("");
  pa_threaded_mainloop_unlock(mainloop);
}

void dropUnresponsive() {
  if (!Connection::shared().context) return;
  drop("the audio server does not answer", true);
}

ResponseTimer* armResponseTimer() {
  auto* timer = new ResponseTimer();
  timeval when;
  pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(kReadyTimeoutMilliseconds) * PA_USEC_PER_MSEC);
  timer->event = api()->time_new(
      api(), &when,
      [](pa_mainloop_api* a, pa_time_event* event, const timeval*, void* userdata) {
        // The owner frees the timer itself (it may do so from inside dropUnresponsive).
        static_cast<ResponseTimer*>(userdata)->event = nullptr;
        a->time_free(event);
        dropUnresponsive();
      },
      timer);
  if (!timer->event) {
    delete timer;
    return nullptr;
  }
  return timer;
}

void freeResponseTimer(ResponseTimer*& timer) {
  if (!timer) return;
  if (timer->event) api()->time_free(timer->event);
  delete timer;
  timer = nullptr;
}

void releaseStream(pa_stream* stream) {
  if (!stream) return;
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_set_write_callback(stream, nullptr, nullptr);
  pa_stream_set_moved_callback(stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
      // Sent, not waited for: the server ends it when it gets to it.
      pa_stream_disconnect(stream);
      pa_stream_unref(stream);
      break;
    case PA_STREAM_CREATING: {
      // It cannot be disconnected before the server has made it: that is done when it has.
      auto* zombie = new Zombie();
      zombie->timer = armResponseTimer();
      pa_stream_set_state_callback(stream, onZombieState, zombie);
      break;
    }
    default:
      pa_stream_unref(stream);
      break;
  }
}

}  // namespace pulse
