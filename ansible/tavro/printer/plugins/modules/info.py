#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 TAVROSet developers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: info
short_description: Read a TAVRO receipt printer's identity, model, settings and network settings
version_added: 1.10.0
description:
  - Asks one printer for what it reports and returns it as the fact C(tavro_printer); changes nothing.
  - The network settings of a printer reached over C(tcp://HOST:PORT) come from the LAN search
    (UDP port 2918), the answer of the module whose address is I(HOST).
author: TAVROSet developers (@tavroset)
extends_documentation_fragment: tavro.printer.connection
attributes:
  check_mode:
    support: full
    description: The module only reads, in check mode as otherwise.
  diff_mode:
    support: none
    description: Nothing changes, so there is nothing to show.
  facts:
    support: full
    description: Sets C(tavro_printer).
options:
  network:
    description:
      - Whether to search the LAN for the printer's network settings; C(auto) does so for a
        C(tcp://) port only.
    type: str
    choices: [auto, always, never]
    default: auto
  broadcast:
    description: Where the search request goes (tavroctl's default is 255.255.255.255).
    type: str
  bind:
    description: The local address the search answers are received on.
    type: str
  udp_port:
    description: UDP port of the network settings protocol.
    type: int
'''

EXAMPLES = r'''
- name: What the till printer is and how it is set
  tavro.printer.info:
    device: TAVRO36/38 U-II
    port: usb

- name: Show its cut mode
  ansible.builtin.debug:
    msg: "{{ tavro_printer.settings.cut_mode }}"

- name: A kitchen printer's network settings, asked from the store host
  tavro.printer.info:
    device: TAVRO36/38 E-II
    port: tcp://10.20.0.31:9100
    broadcast: 10.20.0.255
  delegate_to: store-host
'''

RETURN = r'''
ansible_facts:
  description: The printer as C(tavro_printer).
  returned: success
  type: complex
  contains:
    tavro_printer:
      description: What the printer reported.
      returned: success
      type: dict
      contains:
        identity:
          description: Its key in tavroctl's record (MAC, USB serial number or port).
          type: str
        port:
          description: The connection.
          type: str
        model:
          description: The model, when tavroctl knows it.
          type: str
        settings:
          description: Every user setup value the connection offers, keyed as C(tavroctl setup get) prints them.
          type: dict
          sample: {speed: "200", cut_mode: full}
        network:
          description: Its network settings (ip, dhcp, port, subnet, gateway, mac); null when not searched or not found.
          type: dict
          sample: {ip: 10.20.0.31, dhcp: false, port: 9100, subnet: 255.255.255.0, gateway: 10.20.0.1, mac: "00:11:62:00:00:31"}
'''

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tavro.printer.plugins.module_utils.tavroctl import (
    CONNECTION_SPEC, Tavroctl, TavroctlError, search_args, tcp_host)


def main():
    argument_spec = dict(
        network=dict(type='str', choices=['auto', 'always', 'never'], default='auto'),
        broadcast=dict(type='str'),
        bind=dict(type='str'),
        udp_port=dict(type='int'),
    )
    argument_spec.update(CONNECTION_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    tool = Tavroctl(module)
    try:
        # Planning an empty state reads nothing but tells who the printer is.
        handle, path = tempfile.mkstemp(prefix='tavro-state-', suffix='.json', dir=getattr(module, 'tmpdir', None))
        try:
            with os.fdopen(handle, 'w') as stream:
                json.dump({'tavro': 1}, stream)
            printer = tool.apply(path, check=True).get('printer') or {}
        finally:
            os.unlink(path)
        settings = tool.run_json(['setup', 'get'])
        fact = dict(identity=printer.get('identity'), port=printer.get('port'), model=printer.get('model'),
                    settings=settings[-1] if settings else {}, network=None)
        host = tcp_host(module.params.get('port'))
        wanted = module.params['network']
        if wanted == 'always' or (wanted == 'auto' and host):
            for answer in tool.run_json(search_args(module.params)):
                if host is None or answer.get('ip') == host:
                    fact['network'] = answer
                    break
    except TavroctlError as e:
        module.fail_json(msg=str(e), rc=e.rc)
    module.exit_json(changed=False, ansible_facts=dict(tavro_printer=fact))


if __name__ == '__main__':
    main()
