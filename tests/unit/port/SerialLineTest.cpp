#include "port/SerialLine.h"

#include <gtest/gtest.h>

namespace {
termios fromSettings(SerialSettings s, bool* ok = nullptr)
{
    termios t{};
    t.c_lflag = ICANON | ECHO | ISIG; // what a fresh tty might bring
    t.c_oflag = OPOST | ONLCR;
    bool r = termiosForSettings(t, s);
    if (ok)
        *ok = r;
    return t;
}
} // namespace

TEST(SerialLine, DataBitsParityStopBitsAndFlowMapToTermios)
{
    bool ok = false;
    termios t = fromSettings({9600, 7, 2, 2, 1}, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD), static_cast<tcflag_t>(PARENB));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST); // bytes leave unchanged: no LF -> CR LF

    t = fromSettings({115200, 8, 1, 0, 3}, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD), static_cast<tcflag_t>(PARENB | PARODD));
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));

    t = fromSettings({38400, 8, 0, 1, 2}, &ok); // 1.5 stop bits: two on Linux
    ASSERT_TRUE(ok);
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

TEST(SerialLine, ValuesTheLineCannotTakeAreRefused)
{
    bool ok = true;
    fromSettings({12345, 8, 0, 0, 3}, &ok);
    EXPECT_FALSE(ok);
    fromSettings({9600, 4, 0, 0, 3}, &ok);
    EXPECT_FALSE(ok);
    fromSettings({9600, 8, 3, 0, 3}, &ok); // mark parity
    EXPECT_FALSE(ok);
    fromSettings({9600, 8, 0, 3, 3}, &ok);
    EXPECT_FALSE(ok);
    fromSettings({9600, 8, 0, 0, 0}, &ok);
    EXPECT_FALSE(ok);
}
