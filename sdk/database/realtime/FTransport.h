#pragma once
// The seam between the persistent connection and a database server. No wire protocol to a server
// is specified for this client, so the connection speaks through this interface of our own: a
// transport carries whole text frames (each one JSON object, see FPersistentConnection.h for the
// frames) in both directions, in order. The product ships no transport: without a factory in the
// configuration the connection never connects, the client works on its local cache and keeps its
// writes pending. Tests plug in an in-process server (tests/support/database/DatabaseTestServer.h).
//
// Threads: the connection calls open, send and close on the database's work queue. A transport
// may call its delegate on any thread, one call at a time, in the order the events happened; the
// connection moves every call onto its work queue and ignores calls from transports it no longer
// uses, so a transport need not stop its delegate calls synchronously in close.
#include <memory>
#include <string>

class FTransportDelegate {
 public:
  virtual ~FTransportDelegate() = default;
  // The link is up; frames may be sent.
  virtual void onTransportOpened() = 0;
  // One frame from the server.
  virtual void onTransportMessage(const std::string& frame) = 0;
  // The link is gone (or never came up). Called at most once per transport, also after close.
  virtual void onTransportClosed() = 0;
};

class FTransport {
 public:
  virtual ~FTransport() = default;
  // Starts connecting; the delegate hears onTransportOpened or onTransportClosed.
  virtual void open() = 0;
  // Sends one frame; frames sent before the link is open or after it closed are dropped.
  virtual void send(const std::string& frame) = 0;
  // Closes the link; the delegate hears onTransportClosed.
  virtual void close() = 0;
};

class FTransportFactory {
 public:
  virtual ~FTransportFactory() = default;
  // A new, unopened transport to the server at `url` (FRepoInfo::connectionURLWithLastSessionID).
  // The transport holds the delegate strongly until it has reported onTransportClosed.
  virtual std::shared_ptr<FTransport> transportWithURL(const std::string& url,
                                                       std::shared_ptr<FTransportDelegate> delegate) = 0;
};
