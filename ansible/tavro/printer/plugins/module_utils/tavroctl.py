# -*- coding: utf-8 -*-
# Copyright: 2026 TAVROSet developers
# Apache License 2.0 (see LICENSE or https://www.apache.org/licenses/LICENSE-2.0)
"""Runs tavroctl with --json for the tavro.printer modules.

Everything that talks to a printer is tavroctl's: this file only builds its command line,
runs it and reads its JSON answer, so the modules behave exactly as the command does.
"""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import tempfile

# tavroctl's exit statuses for apply and plan.
EXIT_UNCHANGED = 0
EXIT_USAGE = 1
EXIT_CHANGED = 2
EXIT_FAILED = 4
EXIT_PARTIAL = 6

# The options every module takes to reach one printer (tavroctl's global options).
CONNECTION_SPEC = dict(
    tavroctl=dict(type='path', default='tavroctl'),
    device=dict(type='str'),
    port=dict(type='str'),
    baud=dict(type='int', choices=[9600, 19200, 38400, 57600, 115200]),
    data_bits=dict(type='int', choices=[7, 8]),
    parity=dict(type='str', choices=['none', 'odd', 'even']),
    stop_bits=dict(type='int', choices=[1, 2]),
    flow=dict(type='str', choices=['hw', 'sw', 'none']),
    profile=dict(type='path'),
    timeout=dict(type='float'),
)

_GLOBAL_FLAGS = (
    ('device', '--device'), ('port', '--port'), ('baud', '--baud'), ('data_bits', '--data'),
    ('parity', '--parity'), ('stop_bits', '--stop'), ('flow', '--flow'), ('profile', '--profile'),
)


class TavroctlError(Exception):
    """tavroctl failed; the message is the tool's own, with its exit status and any result."""

    def __init__(self, message, rc=None, result=None):
        super(TavroctlError, self).__init__(message)
        self.rc = rc
        self.result = result


def connection_args(params):
    """tavroctl's global options for the connection in a module's parameters."""
    args = []
    for key, flag in _GLOBAL_FLAGS:
        value = params.get(key)
        if value is not None and value != '':
            args.extend([flag, str(value)])
    return args


def search_args(params):
    """tavroctl's arguments for a LAN search with the module's search options."""
    args = ['net', 'search']
    for key, flag in (('broadcast', '--broadcast'), ('bind', '--bind'), ('udp_port', '--udp-port'),
                      ('timeout_ms', '--timeout-ms')):
        if params.get(key) is not None:
            args.extend([flag, str(params[key])])
    return args


def tcp_host(port):
    """The host of a tcp://HOST[:PORT] connection, else None."""
    if not port or not port.startswith('tcp://'):
        return None
    rest = port[len('tcp://'):]
    if rest.startswith('['):
        return rest[1:rest.find(']')] if ']' in rest else None
    return rest.rsplit(':', 1)[0] if ':' in rest else rest


def json_objects(text):
    """Every JSON object printed one per line, in order; other lines are skipped."""
    objects = []
    for line in (text or '').splitlines():
        line = line.strip()
        if not line.startswith('{'):
            continue
        try:
            value = json.loads(line)
        except ValueError:
            continue
        if isinstance(value, dict):
            objects.append(value)
    return objects


def error_text(stderr, fallback):
    """tavroctl's own error line ("tavroctl: error: ...") from stderr, else its last line."""
    lines = [line.strip() for line in (stderr or '').splitlines() if line.strip()]
    for line in reversed(lines):
        if line.startswith('tavroctl: error: '):
            return line[len('tavroctl: error: '):]
    return lines[-1] if lines else fallback


def state_result(rc, stdout, stderr):
    """The one result object of apply/plan --json, checked against the exit status.

    Returns the object when the printer ended unchanged or changed; raises TavroctlError with
    the tool's message for a bad state file, a failed or a partly made apply.
    """
    results = [o for o in json_objects(stdout) if 'status' in o and 'changes' in o]
    result = results[-1] if results else None
    if rc in (EXIT_UNCHANGED, EXIT_CHANGED) and result is not None:
        return result
    message = result.get('error') if result else None
    if not message:
        message = error_text(stderr, 'tavroctl exited with status %s' % rc)
    if rc == EXIT_PARTIAL:
        done = len(result.get('changes', [])) if result else 0
        message = '%s (%d change(s) before it were made)' % (message, done)
    raise TavroctlError(message, rc=rc, result=result)


def changes_diff(changes):
    """Ansible's diff (before/after) of a list of tavroctl changes, keyed by their path."""
    before = {}
    after = {}
    for change in changes:
        before[change['path']] = change.get('from')
        after[change['path']] = change.get('to')
    return dict(before=before, after=after)


def _without_none(value):
    if isinstance(value, dict):
        return dict((k, _without_none(v)) for k, v in value.items() if v is not None)
    if isinstance(value, list):
        return [_without_none(v) for v in value]
    return value


STATE_SECTIONS = ('settings', 'logos', 'logo_settings', 'firmware', 'network')


def desired_state(params):
    """The state file (as a dict) for the sections given in a module's parameters.

    Files named in it must be absolute: the state is written to a temporary file, and tavroctl
    resolves relative names against that file's folder.
    """
    state = {'tavro': 1}
    if params.get('model'):
        state['model'] = params['model']
    for section in STATE_SECTIONS:
        value = params.get(section)
        if value is None:
            continue
        value = _without_none(value)
        files = []
        if section == 'logos':
            files = value.get('files') or []
        elif section == 'firmware' and value.get('file'):
            files = [value['file']]
        for name in files:
            if not os.path.isabs(name):
                raise TavroctlError('%s: %s is not an absolute path on the managed host' % (section, name))
        state[section] = value
    return state


class Tavroctl:
    """tavroctl on the managed host, for one module run."""

    def __init__(self, module):
        self.module = module
        self.params = module.params

    def command(self, args):
        tool = self.params.get('tavroctl') or 'tavroctl'
        if os.sep not in tool:
            found = self.module.get_bin_path(tool)
            if not found:
                raise TavroctlError('%s is not installed on the managed host (no such program in PATH)' % tool)
            tool = found
        command = [tool] + connection_args(self.params) + ['--json'] + list(args)
        if self.params.get('timeout') is not None and args and args[0] in ('capture', 'plan', 'apply', 'setup'):
            command.extend(['--timeout', str(self.params['timeout'])])
        return command

    def run(self, args):
        """(exit status, stdout, stderr) of tavroctl with these arguments after its options."""
        return self.module.run_command(self.command(args), environ_update={'LC_ALL': 'C.UTF-8'})

    def run_json(self, args):
        """The JSON objects tavroctl printed; raises TavroctlError when it failed."""
        rc, out, err = self.run(args)
        if rc != 0:
            raise TavroctlError(error_text(err, 'tavroctl exited with status %s' % rc), rc=rc)
        return json_objects(out)

    def apply(self, state_file, check=False, only=None, force=None):
        """apply (or apply --check) of a state file: the result object; raises on failure."""
        args = ['apply', state_file]
        if check:
            args.append('--check')
        if only:
            args.extend(['--only', ','.join(only)])
        if force:
            args.extend(['--force', ','.join(force)])
        rc, out, err = self.run(args)
        return state_result(rc, out, err)

    def apply_state(self, state, check=False, only=None, force=None):
        """apply of a state given as a dict, through a private temporary file."""
        handle, path = tempfile.mkstemp(prefix='tavro-state-', suffix='.json',
                                        dir=getattr(self.module, 'tmpdir', None))
        try:
            with os.fdopen(handle, 'w') as stream:
                json.dump(state, stream)
            return self.apply(path, check=check, only=only, force=force)
        finally:
            os.unlink(path)
