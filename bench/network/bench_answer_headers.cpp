// What an answer's header fields cost the URL session, through a real request on loopback: an
// answer of N short header fields against the baseline of an answer carrying the same bytes in its
// body. Prints the usual table, then per N the time per field (flat when the work is linear in the
// fields: 51,000 fields, under curl's cap, once took seconds of CPU when each was compared with
// every earlier one) and the ratio to the baseline (curl handles header lines one by one, so
// they cost more than body bytes).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "bench/support/RepeatedRuns.h"
#include "platform/network/NSURLSession.h"

namespace {

// Answers every connection on 127.0.0.1 with the reply of the moment, until destroyed.
class LoopbackReplier {
 public:
  LoopbackReplier() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    listen(fd_, 16);
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackReplier() {
    stopping_ = true;
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  void setReply(std::string reply) { reply_ = std::move(reply); }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/answer"; }

 private:
  void serve() {
    while (!stopping_) {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      std::string request;
      char buf[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
      }
      for (size_t at = 0; at < reply_.size();) {
        ssize_t n = write(c, reply_.data() + at, reply_.size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      close(c);
    }
  }
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::string reply_;
  std::thread thread_;
};

LoopbackReplier& server() {
  static LoopbackReplier* s = new LoopbackReplier();
  return *s;
}

// N header fields of five bytes: a distinct three-character name each.
std::string fields(size_t n) {
  const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyz!#$%&'*+-.^_`|~";
  std::string lines;
  for (size_t i = 0; i < n; ++i) lines += std::string{alphabet[i % 51], alphabet[(i / 51) % 51], alphabet[i / 2601]} + ":\n";
  return lines;
}

void fetch(benchmark::State& state, const std::string& reply) {
  server().setReply(reply);
  auto session = NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::ephemeralSessionConfiguration());
  for (auto _ : state) {
    std::promise<bool> done;
    session->dataTaskWithRequest(NSURLRequest(server().url()), [&done](Bytes, NSHTTPURLResponseRef r, NSErrorRef e) {
      done.set_value(r && !e);
    })->resume();
    if (!done.get_future().get()) state.SkipWithError("the request failed");
  }
}

void BM_HeaderFields(benchmark::State& state) {
  const std::string lines = fields(static_cast<size_t>(state.range(0)));
  fetch(state, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n" + lines + "\r\n");
}

void BM_SameBytesInTheBody(benchmark::State& state) {
  const std::string body = fields(static_cast<size_t>(state.range(0)));
  fetch(state, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

constexpr long kCounts[] = {1000, 10000, 51000};

}  // namespace

BENCHMARK(BM_HeaderFields)->Arg(1000)->Arg(10000)->Arg(51000)->UseRealTime()->ComputeStatistics("min", benchsupport::fastest);
BENCHMARK(BM_SameBytesInTheBody)->Arg(1000)->Arg(10000)->Arg(51000)->UseRealTime()->ComputeStatistics("min", benchsupport::fastest);

int main(int argc, char** argv) {
  if (!benchsupport::initializeRepeatedRuns(argc, argv)) return 1;
  benchsupport::FastestTimes reporter(benchsupport::FastestTimes::Clock::real);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (long n : kCounts) {
    const double headers = reporter.time("BM_HeaderFields/" + std::to_string(n) + "/real_time");
    const double body = reporter.time("BM_SameBytesInTheBody/" + std::to_string(n) + "/real_time");
    if (headers > 0 && body > 0) {
      std::printf("%ld fields: %.0f ns per field, ratio %.1f (header time / body time)\n", n, headers / double(n),
                  headers / body);
    }
  }
  benchmark::Shutdown();
  return 0;
}
