#pragma once
// A virtual X server of a test's own (Xvfb on the first free display number, picked by the server
// itself), ended with the object. Tests that start one hold it alone: nothing else knows its
// display.
#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class PrivateXServer {
 public:
  struct Options {
    int width = 640, height = 480;
    // An X server normally resets itself each time its last client leaves, refusing new clients
    // for a moment; false starts it with -noreset.
    bool resetWhenLastClientLeaves = false;
  };
  PrivateXServer() : PrivateXServer(Options{}) {}
  explicit PrivateXServer(const Options& options);
  ~PrivateXServer();
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // ":N", or empty when the server did not start (Xvfb missing or failing).
  const std::string& display() const { return display_; }

  // One client connection as the server logs it.
  struct Connection {
    int client = 0;      // the server's client number (reused after a client leaves)
    pid_t pid = 0;       // the connecting process
    bool closed = false; // the client has left
  };
  // Every connection the server saw so far, in order.
  std::vector<Connection> connections() const;

 private:
  pid_t pid_ = 0;
  std::string display_;
  std::string dir_;  // holds the server's log
};

}  // namespace testsupport
