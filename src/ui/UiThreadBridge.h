#pragma once
// Carries calls from the worker and port threads over to the UI thread. Invoke waits until the
// call has run there, as the worker and the port thread expect; Close, on the UI thread, lets
// every waiting caller go at once and drops whatever has not run yet, so the UI thread can stop
// the port and join the worker without waiting on a thread that waits on it.

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kestro {

class UiThreadBridge {
  public:
    // Must be created on the UI thread.
    UiThreadBridge();
    ~UiThreadBridge();
    UiThreadBridge(const UiThreadBridge&) = delete;
    UiThreadBridge& operator=(const UiThreadBridge&) = delete;

    bool OnUiThread() const;

    // Runs `call` on the UI thread and returns once it has run: at once when called there, else
    // through the UI thread's event loop. Returns false, with `call` not run, once closed.
    bool Invoke(std::function<void()> call);
    // Runs `call` on the UI thread later, without waiting for it; dropped once closed.
    void Post(std::function<void()> call);

    // UI thread only. From now on nothing runs; every caller waiting in Invoke returns false.
    void Close();
    bool Closed() const;

  private:
    struct Call {
        std::function<void()> run;
        bool done = false;
    };
    // The queue and its lock are the hand-over itself: the UI thread's event loop only carries a
    // wake-up. Shared with those wake-ups, which may come after the bridge is gone.
    struct State {
        std::mutex lock;
        std::condition_variable changed;
        std::deque<std::shared_ptr<Call>> queue;
        bool closed = false;
    };

    // Lives on the UI thread and runs the queue when a wake-up event reaches it. The wake-ups
    // carry no data, so nothing but the queue's lock passes between the threads.
    class Target;

    std::shared_ptr<Call> Enqueue(std::function<void()> call);
    // Runs the queued calls in order, on the UI thread.
    static void Drain(State& state);

    std::shared_ptr<State> m_state;
    std::unique_ptr<Target> m_target;  // its pending wake-ups are removed with it
};

}  // namespace kestro
