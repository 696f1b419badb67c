// The pseudo-terminal tells the bus side at which speed its listener runs.
#include "tools/pty.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool setSpeed(int fd, speed_t speed) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return false;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

TEST(Pty, ReadsTheSpeedTheListenerSets) {
    lw::Pty pty;
    ASSERT_TRUE(pty.create());
    if (!lw::Pty::seesLineSpeed())
        GTEST_SKIP() << "the pty master cannot read the slave's speed here";
    EXPECT_EQ(pty.lineSpeed(), 0);  // nobody has set one yet

    const int fd = ::open(pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(setSpeed(fd, B1200));
    EXPECT_EQ(pty.lineSpeed(), 1200);
    ASSERT_TRUE(setSpeed(fd, B4800));
    EXPECT_EQ(pty.lineSpeed(), 4800);
    // Input speed 0 means "as the output speed".
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfsetispeed(&t, B0);
    ::cfsetospeed(&t, B9600);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    EXPECT_EQ(pty.lineSpeed(), 9600);
    ASSERT_TRUE(setSpeed(fd, B0));
    EXPECT_EQ(pty.lineSpeed(), 0);
    ::close(fd);
}

}  // namespace
