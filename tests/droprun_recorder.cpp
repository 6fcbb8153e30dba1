/* droprun_recorder.cpp -- a program for DROPRUN's CLI tests: records its arguments and current folder.
 *
 * droprun_recorder [--tag=T] [--sleep=MS] [--wait-for=FILE] [--touch=FILE] ARG...
 * Appends to the file named by $DROPRUN_RECORD one line "begin T CWD ARG..." (each
 * field hex-encoded, so any byte survives), then waits as asked, touches FILE,
 * and appends "end T". */
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string hex(const std::string& s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = s.empty() ? "-" : "";
    for (const unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void append_record(const std::string& line)
{
    const char* file = std::getenv("DROPRUN_RECORD");
    if (!file) return;
    const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string text = line + "\n";
    (void)!::write(fd, text.data(), text.size()); /* one write: records never interleave */
    ::close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    std::string tag = "-", wait_for, touch;
    long sleep_ms = 0;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strncmp(argv[i], "--tag=", 6) == 0) tag = argv[i] + 6;
        else if (std::strncmp(argv[i], "--sleep=", 8) == 0) sleep_ms = std::atol(argv[i] + 8);
        else if (std::strncmp(argv[i], "--wait-for=", 11) == 0) wait_for = argv[i] + 11;
        else if (std::strncmp(argv[i], "--touch=", 8) == 0) touch = argv[i] + 8;
        else break;
    }
    char cwd[4096] = "";
    if (!::getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
    std::string line = "begin " + tag + " " + hex(cwd);
    for (; i < argc; ++i) line += " " + hex(argv[i]);
    append_record(line);

    if (sleep_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sleep_ms));
    std::string how = "done";
    if (!wait_for.empty()) {
        /* Bounded: a test that goes wrong must not hang. */
        how = "timeout";
        for (int n = 0; n < 2000; ++n) {
            if (::access(wait_for.c_str(), F_OK) == 0) {
                how = "seen";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (!touch.empty()) {
        const int fd = ::open(touch.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) ::close(fd);
    }
    append_record("end " + tag + " " + how);
    return 0;
}
