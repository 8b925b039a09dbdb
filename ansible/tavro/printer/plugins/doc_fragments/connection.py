# -*- coding: utf-8 -*-
# Copyright: 2026 TAVROSet developers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    # The options that reach one printer: tavroctl's connection options.
    DOCUMENTATION = r'''
options:
  tavroctl:
    description:
      - The tavroctl program on the managed host, a name looked up in C(PATH) or a path.
    type: path
    default: tavroctl
  device:
    description:
      - The printer entry as tavroctl's DEVICE list names it, for example C(TAVRO36/38 S).
    type: str
  port:
    description:
      - Where the printer is; C(/dev/ttyS0), C(/dev/lp0), C(usb), C(tcp://HOST:PORT) or C(file:PATH).
      - Without it tavroctl uses the port of its profile.
    type: str
  baud:
    description: Serial baud rate.
    type: int
    choices: [9600, 19200, 38400, 57600, 115200]
  data_bits:
    description: Serial data bits.
    type: int
    choices: [7, 8]
  parity:
    description: Serial parity.
    type: str
    choices: [none, odd, even]
  stop_bits:
    description: Serial stop bits.
    type: int
    choices: [1, 2]
  flow:
    description: Serial flow control.
    type: str
    choices: [hw, sw, none]
  profile:
    description: The tavroctl profile (INI) file with the connection, instead of tavroctl's default one.
    type: path
  timeout:
    description: Seconds to wait for the printer's answers (tavroctl's default is 5).
    type: float
notes:
  - The modules run C(tavroctl ... --json) on the managed host and hold no printer protocol of their own;
    install the C(tavroctl) package there.
  - The user the task runs as needs access to the printer's port (see C(tavroctl doctor)).
'''
