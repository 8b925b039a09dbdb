#include "port/SerialLine.h"

namespace {

// The DCB defaults of the Windows tool's printers for software flow control.
constexpr cc_t kXon = 0x11;
constexpr cc_t kXoff = 0x13;

bool speedOf(int baud, speed_t& speed)
{
    switch (baud) {
    case 1200: speed = B1200; return true;
    case 2400: speed = B2400; return true;
    case 4800: speed = B4800; return true;
    case 9600: speed = B9600; return true;
    case 19200: speed = B19200; return true;
    case 38400: speed = B38400; return true;
    case 57600: speed = B57600; return true;
    case 115200: speed = B115200; return true;
    case 230400: speed = B230400; return true;
    default: return false;
    }
}

} // namespace

bool termiosForSettings(termios& tio, const SerialSettings& s)
{
    speed_t speed;
    if (!speedOf(s.baudRate, speed))
        return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~CSIZE;
    switch (s.byteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: return false;
    }
    tio.c_cflag &= ~(PARENB | PARODD);
    switch (s.parity) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    default: return false;
    }
    switch (s.stopBits) {
    case 0: tio.c_cflag &= ~CSTOPB; break;
    case 1:
    case 2: tio.c_cflag |= CSTOPB; break;
    default: return false;
    }
    tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    switch (s.flowCtrl) {
    case 1: tio.c_cflag |= CRTSCTS; break;
    case 2:
        tio.c_iflag |= IXON | IXOFF;
        // A device may come with no flow characters set at all (a pty made raw from a
        // zeroed termios has 00 as both).
        tio.c_cc[VSTART] = kXon;
        tio.c_cc[VSTOP] = kXoff;
        break;
    case 3: break;
    default: return false;
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0;
}
