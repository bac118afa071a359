#include "platform/network/NSURLSession.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/network/Gzip.h"
#include "platform/network/ResponseHeaderCollector.h"
#include "platform/network/SCNetworkReachability.h"
#include "tests/support/LoopbackServer.h"

namespace {

using testsupport::LoopbackServer;
using testsupport::ScriptedResponse;

struct Outcome {
  Bytes data;
  NSHTTPURLResponseRef response;
  NSErrorRef error;
  bool onDelegateQueue = false;
};

// Runs the request and waits (real time) for its completion.
Outcome perform(const std::shared_ptr<NSURLSession>& session, const NSURLRequest& request,
                NSURLSessionDataTaskRef* taskOut = nullptr,
                const std::function<void()>& afterResume = nullptr, int timeoutSeconds = 20) {
  auto done = std::make_shared<std::promise<Outcome>>();
  auto queue = session->delegateQueue();
  auto task = session->dataTaskWithRequest(
      request, [done, queue](Bytes data, NSHTTPURLResponseRef response, NSErrorRef error) {
        done->set_value(Outcome{std::move(data), std::move(response), std::move(error),
                                queue->isCurrent()});
      });
  if (taskOut) *taskOut = task;
  auto future = done->get_future();
  task->resume();
  if (afterResume) afterResume();
  if (future.wait_for(std::chrono::seconds(timeoutSeconds)) != std::future_status::ready) {
    ADD_FAILURE() << "no completion";
    return {};
  }
  return future.get();
}

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Accepts one connection, keeps the raw request text and answers with a fixed response.
class RawOneShotServer {
 public:
  explicit RawOneShotServer(std::string reply) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    listen(fd_, 1);
    thread_ = std::thread([this, reply = std::move(reply)] {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      char buf[4096];
      while (request_.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0) break;
        request_.append(buf, static_cast<size_t>(n));
      }
      ssize_t ignored = write(c, reply.data(), reply.size());
      (void)ignored;
      close(c);
    });
  }
  ~RawOneShotServer() {
    shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // Valid after the exchange.
  const std::string& request() const { return request_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::string request_;
};

TEST(NSURLSessionTest, SendsHeadersInOrderAndReadsStatusAndHeadersCaseInsensitively) {
  RawOneShotServer server(
      "HTTP/1.1 201 Created\r\nX-Custom-Answer: yes\r\nContent-Type: text/plain\r\n"
      "Content-Length: 5\r\nConnection: close\r\n\r\nhello");
  auto session = NSURLSession::sessionWithConfiguration(
      NSURLSessionConfiguration::ephemeralSessionConfiguration());
  NSURLRequest request(server.url("/v1/things?x=1"));
  request.setValue("zulu", "X-Zulu");
  request.setValue("alpha", "X-Alpha");
  request.setValue("mike", "X-Mike");
  request.setValue("alpha-2", "x-alpha");  // replaces in place, keeps the position
  Outcome out = perform(session, request);
  ASSERT_FALSE(out.error) << out.error->description();
  ASSERT_TRUE(out.response);
  EXPECT_TRUE(out.onDelegateQueue);
  EXPECT_EQ(out.response->statusCode(), 201);
  EXPECT_EQ(text(out.data), "hello");
  EXPECT_EQ(out.response->valueForHTTPHeaderField("x-custom-answer"), "yes");
  EXPECT_EQ(out.response->valueForHTTPHeaderField("X-CUSTOM-ANSWER"), "yes");
  EXPECT_FALSE(out.response->valueForHTTPHeaderField("X-Missing"));

  const std::string& raw = server.request();
  EXPECT_EQ(raw.rfind("GET /v1/things?x=1 HTTP/1.1\r\n", 0), 0u) << raw;
  auto zulu = raw.find("X-Zulu: zulu\r\n");
  auto alpha = raw.find("X-Alpha: alpha-2\r\n");
  auto mike = raw.find("X-Mike: mike\r\n");
  ASSERT_NE(zulu, std::string::npos) << raw;
  ASSERT_NE(alpha, std::string::npos) << raw;
  ASSERT_NE(mike, std::string::npos) << raw;
  EXPECT_LT(zulu, alpha);
  EXPECT_LT(alpha, mike);
  EXPECT_NE(raw.find("Accept-Encoding:"), std::string::npos) << raw;
}

TEST(NSURLSessionTest, PostsGzippedBodiesAndDecodesGzippedAnswers) {
  LoopbackServer server;
  ScriptedResponse answer;
  answer.status = 200;
  answer.contentType = "application/octet-stream";
  answer.body = std::string(2000, 'z') + "{\"state\":\"ok\"}";
  answer.gzipBody = true;
  server.script("POST", "/upload", {answer});

  std::string json = "{\"events\":[" + std::string(500, ' ') + "1,2,3]}";
  auto gz = net::gzip(bytes(json));
  ASSERT_TRUE(gz);
  ASSERT_TRUE(net::isGzipped(*gz));
  NSURLRequest request(server.baseURL() + "/upload");
  request.setHTTPMethod("POST");
  request.setValue("application/json", "Content-Type");
  request.setValue("gzip", "Content-Encoding");
  request.setHTTPBody(*gz);
  auto session = NSURLSession::sessionWithConfiguration(
      NSURLSessionConfiguration::defaultSessionConfiguration());
  Outcome out = perform(session, request);
  ASSERT_FALSE(out.error) << out.error->description();
  EXPECT_EQ(out.response->statusCode(), 200);
  EXPECT_EQ(text(out.data), answer.body);  // decoded, not the gzip bytes
  EXPECT_EQ(out.response->valueForHTTPHeaderField("content-encoding"), "gzip");

  auto logged = server.requestsFor("POST", "/upload");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].header("Content-Encoding"), "gzip");
  EXPECT_EQ(logged[0].header("Content-Type"), "application/json");
  EXPECT_EQ(logged[0].body, json);  // the server undid the gzip: the bytes were real gzip
}

TEST(NSURLSessionTest, DeleteWithBodyAndErrorStatusesAreAnswersNotErrors) {
  LoopbackServer server;
  server.script("DELETE", "/items/*", {ScriptedResponse::json(503, "{\"error\":\"busy\"}"),
                                       ScriptedResponse::json(200, "{}")});
  auto session = NSURLSession::sessionWithConfiguration(
      NSURLSessionConfiguration::defaultSessionConfiguration());
  NSURLRequest request(server.baseURL() + "/items/abc");
  request.setHTTPMethod("DELETE");
  request.setValue("application/json", "Content-Type");
  request.setHTTPBody(std::string("{}"));
  Outcome first = perform(session, request);
  ASSERT_FALSE(first.error);
  EXPECT_EQ(first.response->statusCode(), 503);
  EXPECT_EQ(text(first.data), "{\"error\":\"busy\"}");
  Outcome second = perform(session, request);
  ASSERT_FALSE(second.error);
  EXPECT_EQ(second.response->statusCode(), 200);
  auto logged = server.requestsFor("DELETE", "/items/abc");
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[1].body, "{}");
  EXPECT_LE(logged[0].time, logged[1].time);

  // An unscripted route answers 404.
  NSURLRequest missing(server.baseURL() + "/nowhere");
  Outcome nf = perform(session, missing);
  ASSERT_FALSE(nf.error);
  EXPECT_EQ(nf.response->statusCode(), 404);
}

TEST(NSURLSessionTest, TimesOutAfterTheRequestTimeout) {
  LoopbackServer server;
  server.script("GET", "/slow", {ScriptedResponse::json(200, "{}", 10)});
  auto session = NSURLSession::sessionWithConfiguration(
      NSURLSessionConfiguration::defaultSessionConfiguration());
  NSURLRequest request(server.baseURL() + "/slow");
  EXPECT_EQ(request.timeoutInterval(), 60.0);
  request.setTimeoutInterval(0.3);
  Outcome out = perform(session, request);
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->domain(), NSURLErrorDomain);
  EXPECT_EQ(out.error->code(), NSURLErrorTimedOut);
  EXPECT_FALSE(out.response);
  EXPECT_TRUE(out.onDelegateQueue);
}

TEST(NSURLSessionTest, CancelStopsARunningOrSuspendedTask) {
  LoopbackServer server;
  server.script("GET", "/hang", {ScriptedResponse::json(200, "{}", 10)});
  auto session = NSURLSession::sessionWithConfiguration(
      NSURLSessionConfiguration::defaultSessionConfiguration());
  NSURLSessionDataTaskRef task;
  Outcome out = perform(session, NSURLRequest(server.baseURL() + "/hang"), &task, [&] {
    ASSERT_TRUE(server.waitForRequests(1));
    task->cancel();
  });
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->code(), NSURLErrorCancelled);
  EXPECT_EQ(task->state(), NSURLSessionDataTask::State::Completed);

  std::promise<int64_t> code;
  auto suspended = session->dataTaskWithRequest(NSURLRequest(server.baseURL() + "/hang"),
                                                [&](Bytes, NSHTTPURLResponseRef, NSErrorRef e) {
                                                  code.set_value(e ? e->code() : 0);
                                                });
  suspended->cancel();
  suspended->resume();  // too late: it already completed
  auto f = code.get_future();
  ASSERT_EQ(f.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(f.get(), NSURLErrorCancelled);
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(NSURLSessionTest, InvalidatedSessionsRefuseNewTasksAndCancelRunningOnes) {
  LoopbackServer server;
  server.script("GET", "/hang", {ScriptedResponse::json(200, "{}", 10)});
  auto session = NSURLSession::sessionWithConfiguration(
      NSURLSessionConfiguration::defaultSessionConfiguration());
  Outcome out = perform(session, NSURLRequest(server.baseURL() + "/hang"), nullptr, [&] {
    ASSERT_TRUE(server.waitForRequests(1));
    session->invalidateAndCancel();
  });
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->code(), NSURLErrorCancelled);
  EXPECT_TRUE(session->isInvalidated());
  Outcome refused = perform(session, NSURLRequest(server.baseURL() + "/hang"));
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code(), NSURLErrorCancelled);
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(NSURLSessionTest, RefusesBadURLsAndPlainHttpBeyondLoopback) {
  auto queue = DispatchQueue::serial("test.delegate");
  auto session = NSURLSession::sessionWithConfiguration(
      NSURLSessionConfiguration::defaultSessionConfiguration(), queue);
  EXPECT_EQ(session->delegateQueue(), queue);
  Outcome plain = perform(session, NSURLRequest("http://example.invalid/x"));
  ASSERT_TRUE(plain.error);
  EXPECT_EQ(plain.error->code(), NSURLErrorAppTransportSecurityRequiresSecureConnection);
  EXPECT_TRUE(plain.onDelegateQueue);
  Outcome bad = perform(session, NSURLRequest("not a url at all"));
  ASSERT_TRUE(bad.error);
  EXPECT_EQ(bad.error->code(), NSURLErrorBadURL);
  Outcome ftp = perform(session, NSURLRequest("ftp://127.0.0.1/file"));
  ASSERT_TRUE(ftp.error);
  EXPECT_EQ(ftp.error->code(), NSURLErrorUnsupportedURL);
  // Nothing listens on port 1 of loopback.
  Outcome refused = perform(session, NSURLRequest("http://127.0.0.1:1/"));
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code(), NSURLErrorCannotConnectToHost);
}

TEST(NSURLRequestTest, HeaderFieldsAreCaseInsensitiveAndKeepTheirOrder) {
  NSURLRequest r("https://h/p");
  EXPECT_EQ(r.HTTPMethod(), "GET");
  r.setValue("1", "A");
  r.setValue("2", "B");
  r.addValue("3", "a");
  EXPECT_EQ(r.valueForHTTPHeaderField("A"), "1,3");
  r.setValue(std::nullopt, "a");
  ASSERT_EQ(r.allHTTPHeaderFields().size(), 1u);
  EXPECT_EQ(r.allHTTPHeaderFields()[0].first, "B");
}

TEST(GzipTest, RoundTripsAndRejectsCorruptOrTruncatedInput) {
  Bytes empty;
  auto gzEmpty = net::gzip(empty);
  ASSERT_TRUE(gzEmpty);
  auto backEmpty = net::gunzip(*gzEmpty);
  ASSERT_TRUE(backEmpty);
  EXPECT_TRUE(backEmpty->empty());

  Bytes big(300000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>((i * 7919) % 251);
  auto gz = net::gzip(big);
  ASSERT_TRUE(gz);
  EXPECT_EQ(net::gunzip(*gz), big);

  int status = 0;
  Bytes truncated(gz->begin(), gz->begin() + static_cast<long>(gz->size() / 2));
  EXPECT_FALSE(net::gunzip(truncated, &status));
  EXPECT_NE(status, 0);
  Bytes corrupt = *gz;
  corrupt[corrupt.size() / 2] ^= 0xff;
  corrupt[corrupt.size() / 2 + 1] ^= 0x55;
  EXPECT_FALSE(net::gunzip(corrupt));
  EXPECT_FALSE(net::gunzip(bytes("plain text, not gzip")));
  EXPECT_FALSE(net::gunzip(Bytes{}));
}

TEST(GzipTest, OutputIsCappedAtTheLimitAcrossAllMembers) {
  // A few kilobytes of gzip that would expand to megabytes.
  const Bytes zeros(1 << 20, 0);
  auto gz = net::gzip(zeros);
  ASSERT_TRUE(gz);
  int status = 0;
  EXPECT_EQ(net::gunzip(*gz, &status, zeros.size()), zeros);  // exactly at the limit
  EXPECT_FALSE(net::gunzip(*gz, &status, zeros.size() - 1));
  EXPECT_EQ(status, net::kGunzipOutputTooLarge);
  // Two members together pass the limit although each stays inside it.
  Bytes twice = *gz;
  twice.insert(twice.end(), gz->begin(), gz->end());
  EXPECT_FALSE(net::gunzip(twice, &status, zeros.size() + zeros.size() / 2));
  EXPECT_EQ(status, net::kGunzipOutputTooLarge);
  // The default limit (without one, 3 MB of gzip would make 3 GiB).
  const Bytes bomb = *net::gzip(Bytes(net::kMaxGunzipBytes + 1, 0));
  EXPECT_LT(bomb.size(), net::kMaxGunzipBytes / 500);
  EXPECT_FALSE(net::gunzip(bomb, &status));
  EXPECT_EQ(status, net::kGunzipOutputTooLarge);
}

TEST(NSURLSessionTest, AnAnswerLargerThanTheLimitFailsOnceDecoded) {
  LoopbackServer server;
  ScriptedResponse answer = ScriptedResponse::json(200, std::string(1 << 20, ' '));
  answer.gzipBody = true;  // about a kilobyte on the wire
  server.script("GET", "/big", {answer});
  auto configuration = NSURLSessionConfiguration::ephemeralSessionConfiguration();
  EXPECT_GT(configuration.maximumResponseBodyBytes, size_t{1} << 20);
  configuration.maximumResponseBodyBytes = (1 << 20) - 1;
  auto session = NSURLSession::sessionWithConfiguration(configuration);
  auto out = perform(session, NSURLRequest(server.baseURL() + "/big"));
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->code(), NSURLErrorDataLengthExceedsMaximum);
  EXPECT_TRUE(out.data.empty());

  configuration.maximumResponseBodyBytes = 1 << 20;
  auto fits = perform(NSURLSession::sessionWithConfiguration(configuration), NSURLRequest(server.baseURL() + "/big"));
  ASSERT_FALSE(fits.error) << fits.error->description();
  EXPECT_EQ(fits.data.size(), size_t{1} << 20);
}

TEST(SCNetworkReachabilityTest, LoopbackIsAlwaysReachable) {
  auto local = SCNetworkReachability::createWithName("127.0.0.1");
  EXPECT_TRUE(local->isReachable());
  EXPECT_TRUE(local->flags() & kSCNetworkReachabilityFlagsIsLocalAddress);
  auto remote = SCNetworkReachability::createWithName("example.invalid");
  EXPECT_EQ(remote->isReachable(), SCNetworkReachability::hasNonLoopbackInterface());
}

}  // namespace

// ---- What is refused before anything is sent ----

// Holds the test seams for one test and puts the real library back afterwards.
class NSURLSessionGuards : public ::testing::Test {
 protected:
  void TearDown() override { NSURLSessionSetTestSeams({}); }

  static void pretendCurlVersion(unsigned version) {
    NSURLSessionTestSeams seams;
    seams.curlVersion = version;
    NSURLSessionSetTestSeams(seams);
  }
  static void refuseCurlOption(int option) {
    NSURLSessionTestSeams seams;
    seams.refusedCurlOption = option;
    NSURLSessionSetTestSeams(seams);
  }
  static void runInsideCurlCallbacks(std::function<void()> probe) {
    NSURLSessionTestSeams seams;
    seams.insideCurlCallback = std::move(probe);
    NSURLSessionSetTestSeams(seams);
  }

  std::shared_ptr<NSURLSession> session = NSURLSession::sessionWithConfiguration(
      NSURLSessionConfiguration::ephemeralSessionConfiguration());
};

TEST_F(NSURLSessionGuards, HeaderValuesWithLineBreaksOrNulAreRefusedBeforeAnythingIsSent) {
  LoopbackServer server;
  server.script("POST", "/v1/token", {ScriptedResponse::json(200, "{}")});
  const std::string hostile[] = {"FIS_v2 rt-x\r\nX-Injected: 1", "at-y\nX-Injected-By-LF: 1", "lone\rreturn",
                                 std::string("cut\0X-After-Nul: 1", 18)};
  for (const std::string& value : hostile) {
    NSURLRequest request(server.baseURL() + "/v1/token");
    request.setHTTPMethod("POST");
    request.setValue(value, "Authorization");
    Outcome out = perform(session, request);
    ASSERT_TRUE(out.error) << value;
    EXPECT_EQ(out.error->domain(), NSURLErrorDomain);
    EXPECT_EQ(out.error->code(), NSURLErrorUnknown);
    EXPECT_NE(out.error->localizedDescription().find("\"Authorization\""), std::string::npos)
        << out.error->localizedDescription();
    EXPECT_FALSE(out.response);
    EXPECT_TRUE(out.onDelegateQueue);
  }
  // The same for the session's own header fields, for names that would split the line, and for a
  // method that would.
  auto configuration = NSURLSessionConfiguration::ephemeralSessionConfiguration();
  configuration.HTTPAdditionalHeaders = {{"X-Client", "app\r\nX-Injected: 1"}};
  Outcome additional = perform(NSURLSession::sessionWithConfiguration(configuration),
                               NSURLRequest(server.baseURL() + "/v1/token"));
  ASSERT_TRUE(additional.error);
  for (const std::string name : {"X-Name\r\nX-Injected", "Two Words", "X-Colon:", ""}) {
    NSURLRequest request(server.baseURL() + "/v1/token");
    request.setValue("1", name);
    Outcome out = perform(session, request);
    EXPECT_TRUE(out.error) << name;
  }
  NSURLRequest method(server.baseURL() + "/v1/token");
  method.setHTTPMethod("GET /other HTTP/1.1\r\nX-Injected: 1\r\nX:");
  EXPECT_TRUE(perform(session, method).error);
  EXPECT_TRUE(server.requests().empty()) << "a refused request reached the server";

  // A value may hold a colon, a tab and any other text on its one line.
  NSURLRequest fine(server.baseURL() + "/v1/token");
  fine.setHTTPMethod("POST");
  fine.setValue("FIS_v2 rt:x\tz", "Authorization");
  Outcome ok = perform(session, fine);
  ASSERT_FALSE(ok.error) << ok.error->description();
  auto logged = server.requestsFor("POST", "/v1/token");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].header("Authorization"), "FIS_v2 rt:x\tz");
  for (const auto& [name, value] : logged[0].headers) EXPECT_EQ(name.find("Injected"), std::string::npos) << name;
}

TEST_F(NSURLSessionGuards, NothingIsSentWhenTheRunningLibraryCannotRestrictProtocols) {
  LoopbackServer server;
  server.script("GET", "/x", {ScriptedResponse::json(200, "{}")});
  pretendCurlVersion(0x075400);  // 7.84.0: no protocol lists as text
  Outcome old = perform(session, NSURLRequest(server.baseURL() + "/x"));
  ASSERT_TRUE(old.error);
  EXPECT_EQ(old.error->code(), NSURLErrorUnknown);
  EXPECT_NE(old.error->localizedDescription().find("7.84.0"), std::string::npos)
      << old.error->localizedDescription();
  EXPECT_TRUE(server.requests().empty());

  pretendCurlVersion(0x075500);  // 7.85.0, the first that can
  Outcome current = perform(session, NSURLRequest(server.baseURL() + "/x"));
  ASSERT_FALSE(current.error) << current.error->description();
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(NSURLSessionGuards, NothingIsSentWhenTheLibraryRefusesAnOptionThatGuardsTheTransfer) {
  LoopbackServer server;
  server.script("GET", "/x", {ScriptedResponse::json(200, "{}")});
  const std::pair<int, const char*> guards[] = {{CURLOPT_PROTOCOLS_STR, "PROTOCOLS_STR"},
                                                {CURLOPT_REDIR_PROTOCOLS_STR, "REDIR_PROTOCOLS_STR"},
                                                {CURLOPT_WRITEFUNCTION, "WRITEFUNCTION"},
                                                {CURLOPT_HTTPHEADER, "HTTPHEADER"}};
  for (const auto& [option, name] : guards) {
    refuseCurlOption(option);
    Outcome out = perform(session, NSURLRequest(server.baseURL() + "/x"));
    ASSERT_TRUE(out.error) << name;
    EXPECT_EQ(out.error->code(), NSURLErrorUnknown);
    EXPECT_NE(out.error->localizedDescription().find(name), std::string::npos)
        << out.error->localizedDescription();
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(NSURLSessionGuards, AnExceptionInsideCurlsCallbacksEndsTheTransferWithAnError) {
  LoopbackServer server;
  server.script("GET", "/big", {ScriptedResponse::json(200, std::string(1 << 20, 'b'))});
  // The first call is the status line; by the fortieth the body is arriving (a megabyte comes in
  // many pieces). Neither kind of exception may unwind through curl.
  for (int throwAt : {1, 40}) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    runInsideCurlCallbacks([calls, throwAt] {
      if (++*calls == throwAt) throw std::runtime_error("simulated allocation failure");
    });
    Outcome out = perform(session, NSURLRequest(server.baseURL() + "/big"));
    ASSERT_TRUE(out.error) << throwAt;
    EXPECT_EQ(out.error->code(), NSURLErrorUnknown);
    EXPECT_NE(out.error->localizedDescription().find("simulated allocation failure"), std::string::npos)
        << out.error->localizedDescription();
    EXPECT_TRUE(out.data.empty());
  }
  runInsideCurlCallbacks([] { throw 42; });
  Outcome unknown = perform(session, NSURLRequest(server.baseURL() + "/big"));
  ASSERT_TRUE(unknown.error);
  EXPECT_NE(unknown.error->localizedDescription().find("unknown exception"), std::string::npos);

  // The session goes on working.
  NSURLSessionSetTestSeams({});
  Outcome after = perform(session, NSURLRequest(server.baseURL() + "/big"));
  ASSERT_FALSE(after.error) << after.error->description();
  EXPECT_EQ(after.data.size(), size_t{1} << 20);
}

// ---- Answer header fields ----

TEST(ResponseHeaderCollector, ARepeatedFieldKeepsItsPlaceAndItsLastValue) {
  net::ResponseHeaderCollector c;
  c.addLine("HTTP/1.1 301 Moved\r\n");
  c.addLine("Location: https://elsewhere\r\n");
  c.addLine("HTTP/1.1 200 OK\r\n");  // after the redirect only the last answer counts
  c.addLine("X-First:  one \r\n");
  c.addLine("Set-Cookie: a\r\n");
  c.addLine("x-first: two\r\n");
  c.addLine("no colon here\r\n");
  c.addLine(" : empty name\r\n");
  c.addLine("X-Empty:\n");
  c.addLine("\r\n");
  const NSHTTPHeaderList expected = {{"X-First", "two"}, {"Set-Cookie", "a"}, {"X-Empty", ""}};
  EXPECT_EQ(c.fields(), expected);
  EXPECT_EQ(c.takeFields(), expected);
  EXPECT_TRUE(c.fields().empty());
}

// 51,000 short fields fit under curl's cap on an answer's header lines. Compared each with every
// earlier one they took over a billion comparisons (seconds of CPU); looked up by hash, about one
// per repeated name.
TEST(ResponseHeaderCollector, ManyFieldsCostWorkLinearInTheirNumber) {
  constexpr size_t kFields = 51000;
  const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyz!#$%&'*+-.^_`|~";
  auto name = [&](size_t i) {
    return std::string{alphabet[i % 51], alphabet[(i / 51) % 51], alphabet[i / (51 * 51)]};
  };
  net::ResponseHeaderCollector c;
  c.addLine("HTTP/1.1 200 OK\r\n");
  for (size_t i = 0; i < kFields; ++i) c.addLine(name(i) + ":\n");
  for (size_t i = 0; i < kFields; i += 10) c.addLine(name(i) + ": again\n");  // repeats, last value wins
  ASSERT_EQ(c.fields().size(), kFields);
  EXPECT_EQ(c.fields()[10].first, name(10));
  EXPECT_EQ(c.fields()[10].second, "again");
  EXPECT_EQ(c.fields()[11].second, "");
  EXPECT_LE(c.nameComparisons(), 2 * (kFields + kFields / 10));
}

// Through the session on the real path: the fields all arrive. An answer past curl's cap fails
// with an error instead of being read.
TEST(NSURLSessionTest, AnAnswerOfFiftyOneThousandHeaderFieldsIsRead) {
  const std::string alphabet = "0123456789abcdefghijklmnopqrstuvwxyz!#$%&'*+-.^_`|~";
  auto headerLines = [&](size_t count) {
    std::string lines;
    for (size_t i = 0; i < count; ++i) {
      lines += std::string{alphabet[i % 51], alphabet[(i / 51) % 51], alphabet[i / (51 * 51)]} + ":\n";
    }
    return lines;
  };
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\nX-Twice: 1\r\n";
  RawOneShotServer server(head + headerLines(51000) + "x-twice: 2\r\n\r\nok");
  auto session = NSURLSession::sessionWithConfiguration(
      NSURLSessionConfiguration::ephemeralSessionConfiguration());
  // A generous deadline: the answer is large, and sanitizer builds on a loaded machine are slow.
  Outcome out = perform(session, NSURLRequest(server.url("/many")), nullptr, nullptr, 120);
  ASSERT_FALSE(out.error) << out.error->description();
  EXPECT_EQ(text(out.data), "ok");
  EXPECT_EQ(out.response->allHeaderFields().size(), 51000u + 3);
  EXPECT_EQ(out.response->valueForHTTPHeaderField("X-TWICE"), "2");

  RawOneShotServer tooMany(head + headerLines(80000) + "\r\nok");
  Outcome refused = perform(session, NSURLRequest(tooMany.url("/too-many")), nullptr, nullptr, 120);
  ASSERT_TRUE(refused.error);
  EXPECT_FALSE(refused.response);
}
