#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 TAVROSet developers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: search
short_description: Find the TAVRO network printers on a LAN
version_added: 1.10.0
description:
  - Sends the network settings protocol's search (UDP port 2918) from the managed host and returns
    every printer that answered as the fact C(tavro_printers); changes nothing.
author: TAVROSet developers (@tavroset)
attributes:
  check_mode:
    support: full
    description: The search only reads, in check mode as otherwise.
  diff_mode:
    support: none
    description: Nothing changes, so there is nothing to show.
  facts:
    support: full
    description: Sets C(tavro_printers).
options:
  tavroctl:
    description: The tavroctl program on the managed host, a name looked up in C(PATH) or a path.
    type: path
    default: tavroctl
  broadcast:
    description: Where the request goes (tavroctl's default is 255.255.255.255), for example a subnet's broadcast address.
    type: str
  bind:
    description: The local address the answers are received on (default 0.0.0.0).
    type: str
  udp_port:
    description: UDP port of the network settings protocol (default 2918).
    type: int
  timeout_ms:
    description: Milliseconds of silence that end the search (default 1000).
    type: int
notes:
  - Runs C(tavroctl net search --json) on the managed host; run it on a host of the printers' LAN
    (for example with C(delegate_to)).
'''

EXAMPLES = r'''
- name: The printers on the kitchen's LAN
  tavro.printer.search:
    broadcast: 10.20.0.255
  delegate_to: store-host
  run_once: true

- name: Their addresses
  ansible.builtin.debug:
    msg: "{{ tavro_printers | map(attribute='ip') | list }}"
'''

RETURN = r'''
ansible_facts:
  description: The answers as C(tavro_printers).
  returned: success
  type: complex
  contains:
    tavro_printers:
      description: One entry per answer, in the order they came.
      returned: success
      type: list
      elements: dict
      sample: [{ip: 10.20.0.31, dhcp: false, port: 9100, subnet: 255.255.255.0, gateway: 10.20.0.1, mac: "00:11:62:00:00:31"}]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tavro.printer.plugins.module_utils.tavroctl import Tavroctl, TavroctlError, search_args


def main():
    module = AnsibleModule(
        argument_spec=dict(
            tavroctl=dict(type='path', default='tavroctl'),
            broadcast=dict(type='str'),
            bind=dict(type='str'),
            udp_port=dict(type='int'),
            timeout_ms=dict(type='int'),
        ),
        supports_check_mode=True,
    )
    try:
        printers = Tavroctl(module).run_json(search_args(module.params))
    except TavroctlError as e:
        module.fail_json(msg=str(e), rc=e.rc)
    module.exit_json(changed=False, ansible_facts=dict(tavro_printers=printers))


if __name__ == '__main__':
    main()
