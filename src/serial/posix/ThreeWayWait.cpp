#include "serial/posix/ThreeWayWait.h"

#include <poll.h>
#include <sys/epoll.h>

namespace kestro::posix {

ThreeWayWait::ThreeWayWait(int stopFd, int portFd, int sendFd)
    : m_fds{stopFd, portFd, sendFd}, m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {
    for (int slot = kStop; slot <= kSend; ++slot) {
        epoll_event watch{};
        watch.events = EPOLLIN;
        watch.data.u32 = static_cast<std::uint32_t>(slot);
        if (m_epoll.IsOpen() && m_fds[static_cast<std::size_t>(slot)] >= 0 &&
            ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, m_fds[static_cast<std::size_t>(slot)],
                        &watch) != 0) {
            m_epoll.Reset();  // poll() each time instead
        }
    }
}

void ThreeWayWait::ForgetPort() {
    if (m_epoll.IsOpen() && m_fds[kPort] >= 0) {
        ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_DEL, m_fds[kPort], nullptr);
    }
    m_fds[kPort] = -1;
}

bool ThreeWayWait::Wait(Readiness& ready) {
    ready = {0, 0, 0};
    if (!m_epoll.IsOpen()) {
        pollfd handles[3] = {
            {m_fds[kStop], POLLIN, 0},
            {m_fds[kPort], POLLIN, 0},
            {m_fds[kSend], POLLIN, 0},
        };
        if (::poll(handles, 3, -1) <= 0) {
            return false;
        }
        for (std::size_t i = 0; i < ready.size(); ++i) {
            ready[i] = handles[i].revents;
        }
        return true;
    }
    epoll_event events[3];
    const int count = ::epoll_wait(m_epoll.Get(), events, 3, -1);
    if (count <= 0) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const std::uint32_t flags = events[i].events;
        short& slot = ready[events[i].data.u32];
        slot = static_cast<short>(((flags & EPOLLIN) != 0 ? POLLIN : 0) |
                                  ((flags & EPOLLHUP) != 0 ? POLLHUP : 0) |
                                  ((flags & EPOLLERR) != 0 ? POLLERR : 0));
    }
    return true;
}

}  // namespace kestro::posix
