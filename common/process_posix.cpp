/* process_posix.cpp -- starting programs on POSIX systems: a Windows-style command line, split, then spawned */
#include "common/platform.h"

#include <cerrno>
#include <ctime>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/cmdline.h"

extern char** environ;

namespace ps2::plat {

IoError start_process(const char* command_line, bool /*hide_window*/, ProcessHandle* out)
{
    out->value = -1;
    const std::vector<std::string> args = split_command_line(command_line, step_single_byte);
    if (args.empty() || args[0].empty()) {
        keep_system_error(ENOENT);
        return IoError::start_failed;
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    /* posix_spawnp reports a program that cannot be executed as an error
     * (glibc waits for the exec), so a bad command never looks started. */
    pid_t pid = -1;
    if (const int e = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ); e != 0) {
        keep_system_error(e); /* the error number is the result, errno is left alone */
        return IoError::start_failed;
    }
    out->value = pid;
    return IoError::ok;
}

/* A process that is reaped (or not ours) reads as ended. */
static bool reap(pid_t pid, bool block)
{
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        if (r == pid) return true;
        if (r == 0) return false;
        if (errno == EINTR) continue;
        return true; /* ECHILD: reaped before */
    }
}

bool process_has_ended(ProcessHandle h, unsigned timeout_ms)
{
    if (h.value <= 0) return true;
    const pid_t pid = pid_t(h.value);
    if (timeout_ms == kWaitForever) return reap(pid, true);
    /* A finite wait polls with short sleeps: waitpid has no timeout. */
    struct timespec start;
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (reap(pid, false)) return true;
        struct timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long long elapsed = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= (long long)timeout_ms) return false;
        const long long left = (long long)timeout_ms - elapsed;
        const struct timespec pause = {0, long((left < 5 ? left : 5) * 1000000)};
        ::nanosleep(&pause, nullptr);
    }
}

void close_process(ProcessHandle h)
{
    /* Reap it if it has ended; a running program is left to run (it is
     * reaped by the system once this program ends). */
    if (h.value > 0) (void)reap(pid_t(h.value), false);
}

} // namespace ps2::plat
