// Runs test code in a forked child and collects how it ended. Tests run as root here and root
// ignores permission bits, so a child that must meet refusals first drops to the unprivileged user
// "nobody" (uid/gid 65534); run as an ordinary user, the child keeps its own identity.
#pragma once

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <exception>
#include <functional>
#include <string>

#include "base/errors.h"

constexpr uid_t kNobody = 65534;

struct ChildResult {
    int status = -1;      // 0 done, 1 a KovexError, 2 another exception, 90/91 set-up failed
    std::string message;  // the error that reached the top, or "ok"
};

// Runs body in a forked child, as nobody when unprivileged, with writes beyond fileSizeLimit bytes
// failing as on a full disk.
inline ChildResult RunInChild(const std::function<void()>& body, bool unprivileged = true,
                              rlim_t fileSizeLimit = RLIM_INFINITY) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(90);
        if (fileSizeLimit != RLIM_INFINITY) {
            signal(SIGXFSZ, SIG_IGN);  // a too-long write then fails with EFBIG
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(91);
        }
        std::string message = "ok";
        int code = 0;
        try {
            body();
        } catch (const KovexError& error) {
            message = error.what();
            code = 1;
        } catch (const std::exception& error) {
            message = error.what();
            code = 2;
        } catch (...) {
            message = "unexpected exception";
            code = 2;
        }
        (void)!write(fds[1], message.data(), message.size());
        _exit(code);
    }
    close(fds[1]);
    ChildResult result;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) result.message.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
