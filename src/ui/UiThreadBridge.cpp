#include "ui/UiThreadBridge.h"

#include <QMetaObject>
#include <QThread>

namespace kestro {

class UiThreadBridge::Target final : public QObject {
    Q_OBJECT

  public:
    explicit Target(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    // Queued by name: the wake-up is built and freed inside Qt, and carries nothing of ours.
    void WakeUp() { QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection); }

    Q_INVOKABLE void Drain() { UiThreadBridge::Drain(*m_state); }

  private:
    std::shared_ptr<State> m_state;  // a call it runs may end after the bridge is gone
};

UiThreadBridge::UiThreadBridge()
    : m_state(std::make_shared<State>()), m_target(std::make_unique<Target>(m_state)) {}

UiThreadBridge::~UiThreadBridge() {
    Close();
    m_target.reset();  // wake-ups still queued for it are removed with it
}

bool UiThreadBridge::OnUiThread() const { return QThread::currentThread() == m_target->thread(); }

bool UiThreadBridge::Closed() const {
    std::lock_guard guard(m_state->lock);
    return m_state->closed;
}

std::shared_ptr<UiThreadBridge::Call> UiThreadBridge::Enqueue(std::function<void()> call) {
    auto queued = std::make_shared<Call>();
    queued->run = std::move(call);
    {
        std::lock_guard guard(m_state->lock);
        if (m_state->closed) return nullptr;
        m_state->queue.push_back(queued);
    }
    m_target->WakeUp();
    return queued;
}

void UiThreadBridge::Drain(State& state) {
    for (;;) {
        std::shared_ptr<Call> call;
        {
            std::lock_guard guard(state.lock);
            if (state.closed || state.queue.empty()) return;
            call = std::move(state.queue.front());
            state.queue.pop_front();
        }
        call->run();
        {
            std::lock_guard guard(state.lock);
            call->done = true;
        }
        state.changed.notify_all();
    }
}

bool UiThreadBridge::Invoke(std::function<void()> call) {
    if (OnUiThread()) {
        if (Closed()) return false;
        call();
        return true;
    }
    const std::shared_ptr<State> state = m_state;
    const std::shared_ptr<Call> queued = Enqueue(std::move(call));
    if (queued == nullptr) return false;
    std::unique_lock guard(state->lock);
    state->changed.wait(guard, [&] { return queued->done || state->closed; });
    return queued->done;
}

void UiThreadBridge::Post(std::function<void()> call) { Enqueue(std::move(call)); }

void UiThreadBridge::Close() {
    std::deque<std::shared_ptr<Call>> dropped;
    {
        std::lock_guard guard(m_state->lock);
        m_state->closed = true;
        dropped.swap(m_state->queue);
    }
    m_state->changed.notify_all();
    // `dropped` releases the calls' captures here, on the UI thread, outside the lock.
}

}  // namespace kestro

#include "UiThreadBridge.moc"
