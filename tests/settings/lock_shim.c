/* Preloaded into the settings lock tests. With KOVEX_REFUSE_LOCKS set, every file lock is refused
   with ENOLCK, as on a file system without locks; with KOVEX_STALL_FSYNC=<descriptor>, fsync writes
   "stalled" there and never returns, so that a test can hold or kill a writer inside its write. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

static int LocksRefused(void) {
    const char* refuse = getenv("KOVEX_REFUSE_LOCKS");
    return refuse != NULL && *refuse != '\0';
}

static int IsLockCommand(int command) {
    return command == F_GETLK || command == F_SETLK || command == F_SETLKW || command == F_OFD_GETLK ||
           command == F_OFD_SETLK || command == F_OFD_SETLKW;
}

static int Fcntl(int fd, int command, va_list args) {
    void* argument = va_arg(args, void*);
    if (IsLockCommand(command) && LocksRefused()) {
        errno = ENOLCK;
        return -1;
    }
    return (int)syscall(SYS_fcntl, fd, command, argument);
}

int fcntl(int fd, int command, ...) {
    va_list args;
    va_start(args, command);
    const int result = Fcntl(fd, command, args);
    va_end(args);
    return result;
}

int fcntl64(int fd, int command, ...) {
    va_list args;
    va_start(args, command);
    const int result = Fcntl(fd, command, args);
    va_end(args);
    return result;
}

int flock(int fd, int operation) {
    if (LocksRefused()) {
        errno = ENOLCK;
        return -1;
    }
    return (int)syscall(SYS_flock, fd, operation);
}

int fsync(int fd) {
    const char* stall = getenv("KOVEX_STALL_FSYNC");
    if (stall != NULL && *stall != '\0') {
        static const char kSaid[] = "stalled\n";
        if (write(atoi(stall), kSaid, sizeof kSaid - 1) < 0) _exit(99);
        for (;;) pause();
    }
    return (int)syscall(SYS_fsync, fd);
}
