/* droprun_process_test.cpp -- the POSIX process layer: start without a shell, ask for the end, wait */
#include <gtest/gtest.h>

#include <csignal>

#include "common/platform.h"

using namespace ps2;

TEST(Process, CannotStart)
{
    plat::ProcessHandle h;
    for (const char* line : {"/nonexistent/program a", "", "   \t", "\"\" x", "/etc/passwd"})
        EXPECT_EQ(plat::start_process(line, false, &h), plat::IoError::start_failed) << line;
}

TEST(Process, AskWaitAndClose)
{
    plat::ProcessHandle h;
    ASSERT_EQ(plat::start_process("sleep 30", true, &h), plat::IoError::ok); /* found on PATH; hide is ignored */
    EXPECT_FALSE(plat::process_has_ended(h, 0));
    EXPECT_FALSE(plat::process_has_ended(h, 20));
    ::kill(pid_t(h.value), SIGTERM);
    EXPECT_TRUE(plat::process_has_ended(h, plat::kWaitForever));
    EXPECT_TRUE(plat::process_has_ended(h, 0)); /* stays ended */
    plat::close_process(h);

    ASSERT_EQ(plat::start_process("\"/bin/sh\" -c \"exit 3\"", false, &h), plat::IoError::ok);
    EXPECT_TRUE(plat::process_has_ended(h, 10000));
    plat::close_process(h);
}
