#pragma once
// The termios of the tool's serial settings (m_BaudRate, m_ByteSize, m_Parity, m_StopBits,
// m_FlowCtrl): raw bytes, the receiver on, modem status ignored for open.
#include <termios.h>

struct SerialSettings {
    int baudRate = -1;
    int byteSize = -1;
    int parity = -1;   // 0 none, 1 odd, 2 even
    int stopBits = 0;  // 0 one, 1 one and a half, 2 two
    int flowCtrl = -1; // 1 H/W (RTS/CTS), 2 S/W (XON/XOFF), 3 none
};

// Fills tio for the settings on top of what the device reported. False, with tio partly
// changed, when a value is one the line cannot take (an unknown baud rate, 4 data bits,
// mark parity, ...). Linux UARTs have no 1.5 stop bits: 1 gives two, the nearest a
// receiver accepts.
bool termiosForSettings(termios& tio, const SerialSettings& settings);
