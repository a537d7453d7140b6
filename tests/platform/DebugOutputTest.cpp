#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "platform/DebugOutput.h"

namespace {

// Debug lines go to the system log, never to the terminal the program runs in.
TEST(DebugOutput, WritesNothingToStandardOutputOrError)
{
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
    fflush(stdout);
    fflush(stderr);
    const int savedOut = dup(STDOUT_FILENO);
    const int savedErr = dup(STDERR_FILENO);
    dup2(pipeFds[1], STDOUT_FILENO);
    dup2(pipeFds[1], STDERR_FILENO);

    tcm::DebugOutput("CAdapterCustom.create");
    tcm::DebugOutput("100% %s %n safe");

    fflush(stdout);
    fflush(stderr);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
    close(pipeFds[1]);
    char buffer[256];
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    close(pipeFds[0]);
    EXPECT_LE(n, 0) << std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

} // namespace
