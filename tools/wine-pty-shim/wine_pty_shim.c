/* A test-only LD_PRELOAD library for running the Windows kit under Wine against pseudo-terminals.
 *
 * A pseudo-terminal has no modem lines and no UART, so the kernel refuses the ioctls that Wine's
 * serial layer needs for a real port: reading the modem lines (without which WaitCommEvent fails
 * for any event mask that watches CTS or RING) and the serial-driver record that carries a
 * non-standard line rate such as 76 800 bit/s. This library answers exactly those requests for
 * pseudo-terminal slaves, keeping a plausible state per device, and passes every other request,
 * and every request on any other file, through to the kernel untouched.
 *
 * Answered on pseudo-terminal slaves only: TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC, TIOCGSERIAL,
 * TIOCSSERIAL. Never shipped with the kit; scripts/test-windows builds and preloads it.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

/* Unix98 pseudo-terminal slaves use majors 136 to 143. */
enum { PTY_SLAVE_MAJOR_FIRST = 136, PTY_SLAVE_MAJOR_LAST = 143 };
enum { MAX_LINES = 64 };
/* A base clock that divides the rates the kit uses without remainder (921 600 / 76 800 = 12). */
enum { SHIM_BAUD_BASE = 921600 };

struct line_state {
    dev_t device;
    int modem; /* TIOCM_* bits */
    struct serial_struct serial;
};

static struct line_state g_lines[MAX_LINES];
static int g_line_count;
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

typedef int (*ioctl_function)(int, unsigned long, ...);

static ioctl_function real_ioctl(void) {
    static ioctl_function function;
    if (function == NULL) {
        function = (ioctl_function)dlsym(RTLD_NEXT, "ioctl");
    }
    return function;
}

static int is_pty_slave(int fd, dev_t* device) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        return 0;
    }
    const unsigned major_number = major(info.st_rdev);
    if (major_number < PTY_SLAVE_MAJOR_FIRST || major_number > PTY_SLAVE_MAJOR_LAST) {
        return 0;
    }
    *device = info.st_rdev;
    return 1;
}

/* The state of `device`, made on first use; NULL when the table is full. g_lock must be held. */
static struct line_state* line_for(dev_t device) {
    for (int i = 0; i < g_line_count; ++i) {
        if (g_lines[i].device == device) {
            return &g_lines[i];
        }
    }
    if (g_line_count == MAX_LINES) {
        return NULL;
    }
    struct line_state* line = &g_lines[g_line_count++];
    memset(line, 0, sizeof *line);
    line->device = device;
    /* The far side is present: CTS, DSR and carrier up; our own DTR and RTS up until changed. */
    line->modem = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_DTR | TIOCM_RTS;
    line->serial.type = PORT_16550A;
    line->serial.line = (int)minor(device);
    line->serial.baud_base = SHIM_BAUD_BASE;
    line->serial.xmit_fifo_size = 16;
    line->serial.close_delay = 50;
    line->serial.closing_wait = ASYNC_CLOSING_WAIT_NONE;
    return line;
}

/* Returns 1 when the request was answered here (with *result set), 0 to pass it on. */
static int answer(dev_t device, unsigned long request, void* argument, int* result) {
    /* The lines the far side drives cannot be set from this side. */
    const int far_side = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG;
    int handled = 1;
    pthread_mutex_lock(&g_lock);
    struct line_state* line = line_for(device);
    if (line == NULL) {
        handled = 0;
    } else if (argument == NULL) {
        *result = -1;
        errno = EFAULT;
    } else {
        *result = 0;
        switch (request) {
            case TIOCMGET:
                *(int*)argument = line->modem;
                break;
            case TIOCMSET:
                line->modem = (line->modem & far_side) | (*(const int*)argument & ~far_side);
                break;
            case TIOCMBIS:
                line->modem |= *(const int*)argument & ~far_side;
                break;
            case TIOCMBIC:
                line->modem &= ~(*(const int*)argument & ~far_side);
                break;
            case TIOCGSERIAL:
                *(struct serial_struct*)argument = line->serial;
                break;
            case TIOCSSERIAL: {
                struct serial_struct wanted = *(const struct serial_struct*)argument;
                /* The base clock is the hardware's; a caller only chooses divisor and flags. */
                line->serial.custom_divisor = wanted.custom_divisor;
                line->serial.flags = wanted.flags;
                line->serial.close_delay = wanted.close_delay;
                line->serial.closing_wait = wanted.closing_wait;
                break;
            }
            default:
                handled = 0;
                break;
        }
    }
    pthread_mutex_unlock(&g_lock);
    return handled;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);

    switch (request) {
        case TIOCMGET:
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC:
        case TIOCGSERIAL:
        case TIOCSSERIAL: {
            dev_t device;
            int result = 0;
            const int saved_errno = errno;
            if (is_pty_slave(fd, &device)) {
                if (answer(device, request, argument, &result)) {
                    if (result == 0) {
                        errno = saved_errno;
                    }
                    return result;
                }
            }
            errno = saved_errno;
            break;
        }
        default:
            break;
    }
    ioctl_function function = real_ioctl();
    if (function == NULL) {
        errno = ENOSYS;
        return -1;
    }
    return function(fd, request, argument);
}
