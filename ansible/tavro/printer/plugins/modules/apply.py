#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 TAVROSet developers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: apply
short_description: Bring one TAVRO receipt printer to its whole desired state
version_added: 1.10.0
description:
  - Gives one printer its settings, NV logos, logo settings, network settings and firmware in one
    call, as C(tavroctl apply) does with a state file, and reports what changed.
  - Each change is read back from the printer where the printer can report it; what it cannot
    report is compared with what tavroctl on this host last applied to that printer.
  - The desired state is either the sections below or an existing I(state_file) on the managed host.
author: TAVROSet developers (@tavroset)
extends_documentation_fragment: tavro.printer.connection
attributes:
  check_mode:
    support: full
    description: Asks the printer and predicts the changes (C(tavroctl plan)) without sending one.
  diff_mode:
    support: full
    description: The before and after value of every item that changes.
options:
  state_file:
    description:
      - A state file (YAML or JSON, version C(1)) on the managed host. Relative picture and firmware
        names in it are relative to its folder.
    type: path
  model:
    description:
      - The printer model the state is for, for example C(TAVRO36/38); tavroctl refuses another one.
    type: str
  settings:
    description:
      - User setup values, keyed as C(tavroctl setup get) prints them, for example C(speed), C(cut_mode).
    type: dict
  logos:
    description:
      - The NV logos; the printer's whole NV memory is replaced when they differ.
    type: dict
    suboptions:
      files:
        description: Pictures (BMP) on the managed host, image numbers 1..N in this order; absolute paths.
        type: list
        elements: path
        required: true
      sha256:
        description: The SHA-256 each picture must have, keyed by its name in I(files).
        type: dict
      gray:
        description: 4-bit gray rasters.
        type: bool
      star:
        description: Star emulation command prefix.
        type: bool
      center:
        description: Image numbers to centre on the printable area.
        type: list
        elements: int
      max_area:
        description: Printable area in dots.
        type: int
      diverging:
        description: Black and white diverging point, 0..255.
        type: int
  logo_settings:
    description: The top and bottom logo the printer adds to every receipt.
    type: dict
    suboptions:
      top:
        description: The top logo.
        type: dict
        suboptions:
          enabled:
            description: Whether the printer prints it.
            type: bool
          number:
            description: Its image number.
            type: int
          align:
            description: Its alignment.
            type: str
            choices: [left, center, right]
      bottom:
        description: The bottom logo.
        type: dict
        suboptions:
          enabled:
            description: Whether the printer prints it.
            type: bool
          number:
            description: Its image number.
            type: int
          align:
            description: Its alignment.
            type: str
            choices: [left, center, right]
      power_on:
        description: Print the top logo at power-on.
        type: bool
  network:
    description: The network module's settings (printers with a network interface).
    type: dict
    suboptions:
      dhcp:
        description: Whether the printer takes its address from DHCP.
        type: bool
      ip:
        description: Its IP address.
        type: str
      mask:
        description: Its subnet mask.
        type: str
      gateway:
        description: Its gateway.
        type: str
      port:
        description: Its raw TCP port.
        type: int
  firmware:
    description:
      - The firmware the printer must run; it is downloaded only when it differs from what was applied.
    type: dict
    suboptions:
      file:
        description: The firmware image on the managed host; an absolute path.
        type: path
        required: true
      sha256:
        description: The image's SHA-256; tavroctl refuses any other file.
        type: str
      areas:
        description: Flash areas to write, in order (default C(program)).
        type: list
        elements: str
        choices: [program, ext-font, lcd-font]
  only:
    description: Apply only these sections of the state.
    type: list
    elements: str
    choices: [settings, logos, logo_settings, firmware, network]
  force:
    description: Apply these sections even where nothing differs.
    type: list
    elements: str
    choices: [settings, logos, logo_settings, firmware, network, all]
'''

EXAMPLES = r'''
- name: The till printer's settings and logos
  tavro.printer.apply:
    device: TAVRO36/38 U-II
    port: usb
    model: TAVRO36/38
    settings:
      speed: 150
      cut_mode: partial
    logos:
      files: [/srv/pos/logo-top.bmp, /srv/pos/logo-bottom.bmp]
      center: [1]
    logo_settings:
      top: {enabled: true, number: 1, align: center}
      bottom: {enabled: true, number: 2, align: left}
      power_on: false

- name: A kitchen printer on the network, from the store host
  tavro.printer.apply:
    device: TAVRO36/38 E-II
    port: "tcp://{{ printer_ip }}:9100"
    state_file: /etc/tavro/kitchen.yaml
  delegate_to: store-host

- name: New firmware, pinned by its digest
  tavro.printer.apply:
    device: TAVRO36/38 S
    port: /dev/ttyS0
    baud: 115200
    firmware:
      file: /srv/pos/firmware/tavro38-2.04.bin
      sha256: "{{ firmware_sha256 }}"
'''

RETURN = r'''
changes:
  description: What changed (in check mode, what would change), one entry per item.
  returned: always
  type: list
  elements: dict
  contains:
    path:
      description: The item, for example C(settings.speed).
      type: str
    from:
      description: Its value before.
      type: str
    to:
      description: Its value after.
      type: str
    source:
      description: Where the value before came from, C(printer) (read from it) or C(record) (what was last applied).
      type: str
  sample: [{path: settings.speed, from: "200", to: "150", source: printer}]
verified:
  description: Whether every change was read back (or, with nothing to change, the printer answered).
  returned: always
  type: bool
printer:
  description: The printer, as tavroctl reached it.
  returned: when tavroctl reached the printer
  type: dict
  contains:
    identity:
      description: The key of the printer in tavroctl's record (MAC, USB serial number or port).
      type: str
    port:
      description: The connection.
      type: str
    model:
      description: The model.
      type: str
status:
  description: tavroctl's status, C(unchanged) or C(changed).
  returned: always
  type: str
diff:
  description: The before and after of what changes, keyed by item.
  returned: when diff mode is on
  type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tavro.printer.plugins.module_utils.tavroctl import (
    CONNECTION_SPEC, STATE_SECTIONS, Tavroctl, TavroctlError, changes_diff, desired_state)

_LOGO = dict(enabled=dict(type='bool'), number=dict(type='int'),
             align=dict(type='str', choices=['left', 'center', 'right']))

ARGUMENT_SPEC = dict(
    state_file=dict(type='path'),
    model=dict(type='str'),
    settings=dict(type='dict'),
    logos=dict(type='dict', options=dict(
        files=dict(type='list', elements='path', required=True),
        sha256=dict(type='dict'),
        gray=dict(type='bool'),
        star=dict(type='bool'),
        center=dict(type='list', elements='int'),
        max_area=dict(type='int'),
        diverging=dict(type='int'),
    )),
    logo_settings=dict(type='dict', options=dict(
        top=dict(type='dict', options=_LOGO),
        bottom=dict(type='dict', options=_LOGO),
        power_on=dict(type='bool'),
    )),
    network=dict(type='dict', options=dict(
        dhcp=dict(type='bool'), ip=dict(type='str'), mask=dict(type='str'),
        gateway=dict(type='str'), port=dict(type='int'),
    )),
    firmware=dict(type='dict', options=dict(
        file=dict(type='path', required=True),
        sha256=dict(type='str'),
        areas=dict(type='list', elements='str', choices=['program', 'ext-font', 'lcd-font']),
    )),
    only=dict(type='list', elements='str', choices=list(STATE_SECTIONS)),
    force=dict(type='list', elements='str', choices=list(STATE_SECTIONS) + ['all']),
)
ARGUMENT_SPEC.update(CONNECTION_SPEC)


def main():
    module = AnsibleModule(
        argument_spec=ARGUMENT_SPEC,
        mutually_exclusive=[('state_file', section) for section in ('model',) + STATE_SECTIONS],
        required_one_of=[('state_file',) + STATE_SECTIONS],
        supports_check_mode=True,
    )
    tool = Tavroctl(module)
    try:
        if module.params['state_file']:
            result = tool.apply(module.params['state_file'], check=module.check_mode,
                                only=module.params['only'], force=module.params['force'])
        else:
            result = tool.apply_state(desired_state(module.params), check=module.check_mode,
                                      only=module.params['only'], force=module.params['force'])
    except TavroctlError as e:
        extra = dict(rc=e.rc)
        if e.result:
            extra.update(changes=e.result.get('changes', []), printer=e.result.get('printer'),
                         status=e.result.get('status'))
        module.fail_json(msg=str(e), **extra)

    changes = result.get('changes', [])
    output = dict(
        changed=bool(changes),
        changes=changes,
        status=result.get('status'),
        verified=not module.check_mode,
        printer=result.get('printer'),
    )
    if module._diff:
        output['diff'] = changes_diff(changes)
    module.exit_json(**output)


if __name__ == '__main__':
    main()
