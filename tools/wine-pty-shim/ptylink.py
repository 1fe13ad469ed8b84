#!/usr/bin/env python3
"""Pseudo-terminals for running the Windows kit under Wine, each held as the controlling terminal
of a session of its own, so that Wine opening it never makes it the wineserver's (which would then
be hung up when the line closes).

  ptylink.py pair LINK_A LINK_B   two pseudo-terminals joined like a null-modem cable: bytes
                                  written to one slave are read from the other
  ptylink.py hold LINK DEVICE     holds an existing pseudo-terminal slave (such as the one of
                                  kestro-radio-sim) as a controlling terminal

Each LINK is made a symbolic link to its slave, so that Wine's port mapping can name a path that
stays the same from run to run. Runs until SIGTERM or SIGINT; the links are removed on the way out.
"""

import ctypes
import fcntl
import os
import select
import signal
import socket
import sys
import termios
import tty

PR_SET_PDEATHSIG = 1


def die_with_parent():
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)
    except (OSError, AttributeError):
        pass


def replace_link(link, target):
    tmp = link + ".tmp"
    if os.path.lexists(tmp):
        os.unlink(tmp)
    os.symlink(target, tmp)
    os.replace(tmp, link)


def remove_link(link):
    try:
        if os.path.islink(link):
            os.unlink(link)
    except OSError:
        pass


def become_session_leader_of(slave_fd):
    os.setsid()
    fcntl.ioctl(slave_fd, termios.TIOCSCTTY, 0)


def relay(master_fd, peer):
    """Copies bytes both ways between a pseudo-terminal master and a socket until either ends."""
    os.set_blocking(master_fd, True)
    while True:
        ready, _, _ = select.select([master_fd, peer], [], [])
        if master_fd in ready:
            try:
                data = os.read(master_fd, 4096)
            except OSError:
                # EIO: no slave open at the moment (Wine closed the port); keep serving.
                data = None
            if data:
                peer.sendall(data)
            elif data == b"":
                return
        if peer in ready:
            data = peer.recv(4096)
            if not data:
                return
            view = memoryview(data)
            while view:
                written = os.write(master_fd, view)
                view = view[written:]


def pair_end(link, peer, other):
    """One end of the null-modem: its own session, its own pseudo-terminal, relayed to `peer`."""
    die_with_parent()
    other.close()  # else the far end's exit would never read as the end of the line
    master, slave = os.openpty()
    tty.setraw(slave)
    become_session_leader_of(slave)
    replace_link(link, os.ttyname(slave))
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    try:
        relay(master, peer)
    finally:
        remove_link(link)
    # The slave stays open (held by this process) until the very end, so the line never hangs up
    # while Wine still has the port open.
    os._exit(0)


def hold(link, device):
    die_with_parent()
    os.setsid()
    fd = os.open(device, os.O_RDWR)  # no O_NOCTTY: a session leader takes it as its terminal
    fcntl.ioctl(fd, termios.TIOCSCTTY, 0)
    replace_link(link, device)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    signal.signal(signal.SIGHUP, lambda *_: os._exit(0))  # the simulated radio has ended
    signal.pause()
    os._exit(0)


def spawn(target, *args):
    pid = os.fork()
    if pid == 0:
        try:
            target(*args)
        except BaseException as error:  # the child must never return into the parent's code
            print(f"ptylink: {error}", file=sys.stderr)
            os._exit(1)
    return pid


def main(argv):
    if len(argv) == 4 and argv[1] == "pair":
        a, b = socket.socketpair()
        children = [spawn(pair_end, argv[2], a, b), spawn(pair_end, argv[3], b, a)]
        a.close()
        b.close()
        links = argv[2:4]
    elif len(argv) == 4 and argv[1] == "hold":
        children = [spawn(hold, argv[2], argv[3])]
        links = [argv[2]]
    else:
        print(__doc__, file=sys.stderr)
        return 2

    def stop(*_):
        for pid in children:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    status = 0
    for pid in children:
        while True:
            try:
                _, code = os.waitpid(pid, 0)
                break
            except InterruptedError:
                continue
        status = status or os.waitstatus_to_exitcode(code)
    for link in links:
        remove_link(link)
    return max(status, 0)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
