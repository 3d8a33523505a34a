#include "controlcenter/log_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "common/event_log.h"

namespace vm::controlcenter {
namespace {

// More lines than this waiting means the file has been locked for long: the
// newest are dropped rather than let memory grow without end.
constexpr std::size_t kMaxQueued = 20000;

std::mutex lock;
std::condition_variable changed;
std::deque<std::wstring> queue;
bool running = false;
bool stopping = false;
bool finished = false;
std::thread writer;

void WriterLoop() {
  std::unique_lock guard(lock);
  for (;;) {
    changed.wait(guard, [] { return stopping || !queue.empty(); });
    while (!queue.empty()) {
      std::wstring line = std::move(queue.front());
      queue.pop_front();
      guard.unlock();
      eventlog::WriteEventLine(line, true);
      guard.lock();
    }
    if (stopping) break;
  }
  finished = true;
  changed.notify_all();
}

}  // namespace

void StartLogWriter() {
  std::lock_guard guard(lock);
  if (running) return;
  try {
    writer = std::thread(WriterLoop);
    running = true;
  } catch (...) {
    running = false;  // lines are then written at once
  }
}

bool StopLogWriter(DWORD timeout_ms) {
  std::unique_lock guard(lock);
  if (!running) return true;
  stopping = true;
  changed.notify_all();
  const bool done =
      changed.wait_for(guard, std::chrono::milliseconds(timeout_ms), [] { return finished; });
  running = false;
  guard.unlock();
  if (done) {
    writer.join();
  } else {
    writer.detach();  // stuck on the file mutex; the process ends without it
  }
  return done;
}

void QueueEventLine(std::wstring text) {
  {
    std::lock_guard guard(lock);
    if (running) {
      if (queue.size() < kMaxQueued) queue.push_back(std::move(text));
      changed.notify_all();
      return;
    }
  }
  eventlog::WriteEventLine(text, true);
}

void QueueEvent(std::wstring_view source, std::wstring_view class_name, std::wstring_view operation,
                std::wstring_view detail, bool succeeded, DWORD error) {
  try {
    if (!eventlog::IsEventLogEnabled()) return;
    QueueEventLine(eventlog::EventEntry(source, class_name, operation, detail, succeeded, error));
  } catch (...) {
  }
}

}  // namespace vm::controlcenter
