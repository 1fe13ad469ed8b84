#include "ui/UiThreadBridge.h"

#include <QMetaObject>
#include <QThread>

namespace kestro {

UiThreadBridge::UiThreadBridge()
    : m_state(std::make_shared<State>()), m_target(std::make_unique<QObject>()) {}

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
    QMetaObject::invokeMethod(
        m_target.get(), [state = m_state] { Drain(state); }, Qt::QueuedConnection);
    return queued;
}

void UiThreadBridge::Drain(const std::shared_ptr<State>& state) {
    for (;;) {
        std::shared_ptr<Call> call;
        {
            std::lock_guard guard(state->lock);
            if (state->closed || state->queue.empty()) return;
            call = std::move(state->queue.front());
            state->queue.pop_front();
        }
        call->run();
        {
            std::lock_guard guard(state->lock);
            call->done = true;
        }
        state->changed.notify_all();
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
