# -*- coding: utf-8 -*-
# Copyright: 2026 TAVROSet developers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""How the modules read tavroctl: its command line, its JSON answers and its exit statuses."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

import pytest

from ansible_collections.tavro.printer.plugins.module_utils import tavroctl as t

CHANGED = {'printer': {'identity': 'mac:00:11:62:00:00:01', 'port': 'tcp://127.0.0.1:6001', 'model': 'TAVRO36/38'},
           'changes': [{'path': 'settings.speed', 'from': '200', 'to': '150', 'source': 'printer'}],
           'status': 'changed', 'error': None}


def out(*objects):
    return '\n'.join(json.dumps(o) for o in objects) + '\n'


@pytest.mark.parametrize('rc, stdout, stderr, message', [
    # A failed apply: the tool's own error in its result wins over stderr.
    (4, out(dict(CHANGED, changes=[], status='failed', error='no answer from the printer')),
     'tavroctl: error: no answer from the printer\n', 'no answer from the printer'),
    # A partly made apply says how much was made.
    (6, out(dict(CHANGED, status='failed', error='logo upload: stalled')), '',
     'logo upload: stalled (1 change(s) before it were made)'),
    # A bad state file prints no result; the message is tavroctl's error line, not its usage text.
    (1, '', 'tavroctl: error: shop.json: settings.speed: not a speed\nRun with --help for more information.\n',
     'shop.json: settings.speed: not a speed'),
    # Exit 2 without a result is no success.
    (2, 'not json\n', '', 'tavroctl exited with status 2'),
])
def test_state_result_raises_the_tools_message(rc, stdout, stderr, message):
    with pytest.raises(t.TavroctlError) as caught:
        t.state_result(rc, stdout, stderr)
    assert str(caught.value) == message
    assert caught.value.rc == rc


def test_state_result_takes_the_result_after_progress_lines():
    progress = {'progress': 40, 'step': 'logo 1'}
    assert t.state_result(2, out(progress) + 'garbage {\n' + out(CHANGED), '') == CHANGED
    unchanged = dict(CHANGED, changes=[], status='unchanged')
    assert t.state_result(0, out(unchanged), '')['status'] == 'unchanged'


def test_changes_diff_keys_before_and_after_by_item():
    changes = [{'path': 'settings.speed', 'from': '200', 'to': '150'},
               {'path': 'logo_settings', 'from': None, 'to': 'top 1 center'}]
    assert t.changes_diff(changes) == {'before': {'settings.speed': '200', 'logo_settings': None},
                                       'after': {'settings.speed': '150', 'logo_settings': 'top 1 center'}}
    assert t.changes_diff([]) == {'before': {}, 'after': {}}


def test_desired_state_keeps_only_what_was_given():
    params = dict(model='TAVRO36/38', settings={'speed': 150}, logos=None,
                  logo_settings={'top': {'enabled': True, 'number': 1, 'align': None}, 'bottom': None,
                                 'power_on': False},
                  firmware={'file': '/srv/fw.bin', 'sha256': None, 'areas': None}, network=None)
    assert t.desired_state(params) == {'tavro': 1, 'model': 'TAVRO36/38', 'settings': {'speed': 150},
                                       'logo_settings': {'top': {'enabled': True, 'number': 1}, 'power_on': False},
                                       'firmware': {'file': '/srv/fw.bin'}}


@pytest.mark.parametrize('params', [
    dict(logos={'files': ['/srv/a.bmp', 'b.bmp']}),
    dict(firmware={'file': 'fw.bin'}),
])
def test_desired_state_refuses_relative_files(params):
    with pytest.raises(t.TavroctlError, match='not an absolute path'):
        t.desired_state(params)


@pytest.mark.parametrize('port, host', [
    ('tcp://10.0.0.5:9100', '10.0.0.5'), ('tcp://printer.local', 'printer.local'),
    ('tcp://[fd00::5]:9100', 'fd00::5'), ('/dev/ttyS0', None), ('usb', None), (None, None),
])
def test_tcp_host(port, host):
    assert t.tcp_host(port) == host


def test_command_lines():
    class Module:
        params = dict(tavroctl='tavroctl', device='TAVRO36/38 S', port='/dev/ttyS0', baud=115200, data_bits=None,
                      parity='', stop_bits=None, flow='hw', profile=None, timeout=2.5)

        def get_bin_path(self, name):
            return '/usr/bin/' + name

    tool = t.Tavroctl(Module())
    assert tool.command(['apply', 's.json', '--check']) == [
        '/usr/bin/tavroctl', '--device', 'TAVRO36/38 S', '--port', '/dev/ttyS0', '--baud', '115200', '--flow', 'hw',
        '--json', 'apply', 's.json', '--check', '--timeout', '2.5']
    assert t.search_args(dict(broadcast='127.255.255.255', bind='127.0.0.1', udp_port=None, timeout_ms=300)) == [
        'net', 'search', '--broadcast', '127.255.255.255', '--bind', '127.0.0.1', '--timeout-ms', '300']

    Module.get_bin_path = lambda self, name: None
    with pytest.raises(t.TavroctlError, match='not installed'):
        t.Tavroctl(Module()).command(['setup', 'get'])
