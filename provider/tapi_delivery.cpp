#include "provider/tapi_delivery.h"

#include <condition_variable>
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
  std::deque<std::function<void()>> queue;  // guarded by lock
  bool open = false;                        // queueing accepted
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
    if (d.queue.empty()) return;  // stopping, and everything delivered
    std::function<void()> call = std::move(d.queue.front());
    d.queue.pop_front();
    lock.unlock();
    call();
    lock.lock();
  }
}

void Queue(std::function<void()> call) {
  Delivery& d = delivery();
  {
    std::lock_guard lock(d.lock);
    if (!d.open) return;
    d.queue.push_back(std::move(call));
  }
  d.wake.notify_one();
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
  }
  d.thread = std::thread(DeliveryThread, std::ref(d));
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

}  // namespace qv
