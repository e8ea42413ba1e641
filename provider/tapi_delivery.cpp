#include "provider/tapi_delivery.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace qv {

namespace {

struct Delivery {
  // A leaf: nothing else is taken while it is held, and TAPI is never
  // called with it held.
  std::mutex lock;
  std::condition_variable wake;
  std::condition_variable delivered;  // with lock: a call into TAPI returned, or the thread ended
  struct Item {
    std::uint64_t sequence = 0;  // 0: queued ahead of the others
    std::function<void()> call;
  };
  std::deque<Item> queue;        // guarded by lock
  std::uint64_t lastQueued = 0;  // sequence of the last item queued at the back
  std::uint64_t lastDelivered = 0;
  std::thread::id threadId;
  bool open = false;  // queueing accepted
  bool stopping = false;
  ASYNC_COMPLETION completionProc = nullptr;
  std::thread thread;  // only touched by Start/Stop, which TAPI serialises

  // Destroyed when the library unloads, so a host that loads and unloads the
  // provider again and again loses nothing. After TSPI_providerShutdown the
  // thread has ended; a host that unloads without it must not meet a
  // joinable thread here (that would terminate the process).
  ~Delivery() {
    if (thread.joinable()) thread.detach();
  }
};

Delivery& delivery() {
  static Delivery d;
  return d;
}

void DeliveryThread(Delivery& d) {
  std::unique_lock lock(d.lock);
  for (;;) {
    d.wake.wait(lock, [&] { return !d.queue.empty() || d.stopping; });
    if (d.queue.empty()) break;  // stopping, and everything delivered
    Delivery::Item item = std::move(d.queue.front());
    d.queue.pop_front();
    lock.unlock();
    item.call();
    lock.lock();
    if (item.sequence != 0) d.lastDelivered = item.sequence;
    d.delivered.notify_all();
  }
  d.lastDelivered = d.lastQueued;
  d.delivered.notify_all();
}

// This thread's open batches, and whether it queued something in them.
thread_local int batchDepth = 0;
thread_local bool wakeOwed = false;

void Wake(Delivery& d) {
  if (batchDepth > 0) {
    wakeOwed = true;
    return;
  }
  d.wake.notify_one();
}

void Queue(std::function<void()> call) {
  Delivery& d = delivery();
  {
    std::lock_guard lock(d.lock);
    if (!d.open) return;
    d.queue.push_back({++d.lastQueued, std::move(call)});
  }
  Wake(d);
}

}  // namespace

void StartTapiDelivery(ASYNC_COMPLETION completionProc) {
  Delivery& d = delivery();
  if (d.thread.joinable()) return;
  {
    std::lock_guard lock(d.lock);
    d.queue.clear();
    d.completionProc = completionProc;
    d.open = true;
    d.stopping = false;
    d.lastDelivered = d.lastQueued;
  }
  std::lock_guard lock(d.lock);
  d.thread = std::thread(DeliveryThread, std::ref(d));
  d.threadId = d.thread.get_id();
}

void StopTapiDelivery() {
  Delivery& d = delivery();
  if (!d.thread.joinable()) return;
  {
    std::lock_guard lock(d.lock);
    d.open = false;
    d.stopping = true;
  }
  d.wake.notify_one();
  d.thread.join();
}

void QueueCompletion(DRV_REQUESTID requestId, LONG result) {
  ASYNC_COMPLETION proc = nullptr;
  {
    Delivery& d = delivery();
    std::lock_guard lock(d.lock);
    proc = d.completionProc;
  }
  if (proc == nullptr) return;
  Queue([proc, requestId, result] { proc(requestId, result); });
}

void QueueTapiCall(std::function<void()> call) { Queue(std::move(call)); }

bool OnDeliveryThread() {
  Delivery& d = delivery();
  std::lock_guard lock(d.lock);
  return d.open && d.threadId == std::this_thread::get_id();
}

void QueueCompletionFirst(DRV_REQUESTID requestId, LONG result) {
  Delivery& d = delivery();
  {
    std::lock_guard lock(d.lock);
    if (!d.open || d.completionProc == nullptr) return;
    ASYNC_COMPLETION proc = d.completionProc;
    d.queue.push_front({0, [proc, requestId, result] { proc(requestId, result); }});
  }
  Wake(d);
}

void BeginTapiBatch() { ++batchDepth; }

void EndTapiBatch() {
  if (batchDepth > 0) --batchDepth;
  if (batchDepth == 0 && wakeOwed) {
    wakeOwed = false;
    delivery().wake.notify_one();
  }
}

bool WaitUntilDelivered(std::chrono::milliseconds limit) {
  Delivery& d = delivery();
  // What this thread queued in a batch must not wait for the batch's end.
  if (wakeOwed) {
    wakeOwed = false;
    d.wake.notify_one();
  }
  std::unique_lock lock(d.lock);
  const std::uint64_t target = d.lastQueued;
  return d.delivered.wait_for(lock, limit, [&] { return !d.open || d.lastDelivered >= target; });
}

}  // namespace qv
