#pragma once
// Queues in the manner of the platform's dispatch library: serial queues with labels, the main
// queue (served by the main run loop), global concurrent queues, after, once, semaphores and
// groups. A task that throws is caught and logged; the queue goes on.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/AsyncQueue.h"

class DispatchQueue;
using DispatchQueueRef = std::shared_ptr<DispatchQueue>;
using DispatchBlock = std::function<void()>;

enum class DispatchQoS { Background, Utility, Low, Default, UserInitiated, High };

// A queue is the AsyncQueue that foundation's notification observers name.
class DispatchQueue : public AsyncQueue, public std::enable_shared_from_this<DispatchQueue> {
 public:
  ~DispatchQueue() override = default;

  // A new serial queue with its own worker thread (started on first use, ended with the queue).
  static DispatchQueueRef serial(std::string label);
  // The main queue: its blocks run on the main thread whenever the main run loop runs.
  static DispatchQueueRef main();
  // The process-wide concurrent queue of a priority.
  static DispatchQueueRef global(DispatchQoS qos = DispatchQoS::Default);
  // The queue whose task is running on this thread, or nullptr.
  static DispatchQueueRef current();

  const std::string& label() const { return label_; }
  bool isSerial() const { return serial_; }
  // Whether the calling thread runs a task of this queue (for the main queue: is the main thread).
  virtual bool isCurrent() const = 0;

  void async(DispatchBlock block) override = 0;
  // Runs the block on the queue and waits for it. A sync onto the serial queue the caller is
  // running on would deadlock: it is refused (logged, block not run) and false is returned.
  virtual bool sync(DispatchBlock block) = 0;
  // Runs the block after `seconds` on the platform clock (see Clock.h: steppable in tests).
  void after(double seconds, DispatchBlock block);
  // Queues the blocks to run one after another, each as a task of its own would (its exceptions
  // caught and logged, the next one run regardless), with one hand-off to the queue for all of
  // them. A concurrent queue gets them as separate tasks, free to run side by side as before.
  void asyncBatch(std::vector<DispatchBlock> blocks);

  // Runs `block` on the calling thread as soon as the task that thread is running ends (after its
  // body, before a sync caller waiting for the task goes on); blocks deferred during one task run
  // in the order deferred, each guarded like a task. False, with the block dropped unrun, when the
  // thread is running no task.
  static bool deferToEndOfCurrentTask(DispatchBlock block);
  // Runs `block` on the calling thread, a serial queue's own worker, once that queue has no task
  // waiting to run right after the current one: at the end of a run of tasks queued back to back,
  // but always before a sync caller waiting for a task goes on (before that task starts and after
  // it ends) and never more than about a millisecond after it was deferred. Blocks run in the order
  // deferred, each guarded like a task. False, with the block dropped unrun, when the thread is not
  // a serial queue's worker running a task: the caller then defers to the end of its task instead.
  static bool deferWhileBusy(DispatchBlock block);

 protected:
  DispatchQueue(std::string label, bool serial) : label_(std::move(label)), serial_(serial) {}
  // Runs one task with the queue marked current; exceptions are caught and logged.
  void runTask(const DispatchBlock& block);

 private:
  std::string label_;
  bool serial_;
};

// The free-function spelling of after.
inline void dispatch_after(double seconds, const DispatchQueueRef& q, DispatchBlock b) {
  q->after(seconds, std::move(b));
}

// Once-only initialisation.
using dispatch_once_t = std::once_flag;
template <class F>
void dispatch_once(dispatch_once_t& token, F&& f) {
  std::call_once(token, std::forward<F>(f));
}

class DispatchSemaphore {
 public:
  explicit DispatchSemaphore(long value = 0);
  ~DispatchSemaphore();
  void signal();
  // Waits up to timeoutSeconds of real time (negative: forever). True when signalled.
  bool wait(double timeoutSeconds = -1);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class DispatchGroup : public std::enable_shared_from_this<DispatchGroup> {
 public:
  static std::shared_ptr<DispatchGroup> create();
  void enter();
  void leave();
  void async(const DispatchQueueRef& queue, DispatchBlock block);
  // Runs the block on the queue once every entered task has left (at once when none is in).
  void notify(const DispatchQueueRef& queue, DispatchBlock block);
  // Waits up to timeoutSeconds of real time (negative: forever). True when the group emptied.
  bool wait(double timeoutSeconds = -1);

 private:
  DispatchGroup() = default;
  struct State;
  std::shared_ptr<State> state_;
  friend struct GroupAccess;
};
