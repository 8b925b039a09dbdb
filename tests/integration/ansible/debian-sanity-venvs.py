#!/usr/bin/python3
"""Gives ansible-test's sanity tests their Python environments made from Debian's packages.

ansible-test builds one environment per sanity test with pip and pinned packages from the
network. This machine is offline and its packages come from Debian, so this script makes each
environment where ansible-test looks for it (its cache under ~/.ansible/test/venv, named by
the hash of the pip commands it would run) as a venv that sees the system's site packages, and
marks it as complete. The path and the marker are ansible-test's own internals (2.14), computed
with its own functions, so a change of them shows up as a failure here, not as a silent skip.

Usage: debian-sanity-venvs.py TEST...   (prints one "TEST PATH" line per environment made)
"""
import json
import os
import subprocess
import sys

from ansible_test._internal.commands.sanity import hash_pip_commands
from ansible_test._internal.host_configs import NativePythonConfig
from ansible_test._internal.python_requirements import collect_requirements


def main():
    version = '%d.%d' % sys.version_info[:2]
    python = NativePythonConfig(version=version, path=sys.executable)
    for name in sys.argv[1:]:
        commands = collect_requirements(python=python, controller=True, virtualenv=False, command=None,
                                        ansible=False, cryptography=False, coverage=False, minimize=False,
                                        sanity=name)
        if not commands:
            continue
        path = os.path.join(os.path.expanduser('~/.ansible/test/venv'), 'sanity.' + name, version,
                            hash_pip_commands(commands))
        subprocess.run([sys.executable, '-m', 'venv', '--system-site-packages', '--without-pip', path], check=True)
        with open(os.path.join(path, 'meta.install.json'), 'w') as f:
            json.dump([command.serialize() for command in commands], f, indent=4)
        import yaml
        with open(os.path.join(path, 'meta.yaml.json'), 'w') as f:
            json.dump(hasattr(yaml, 'CLoader'), f)  # what ansible-test's yamlcheck would have found
        open(os.path.join(path, 'marker.txt'), 'w').close()
        print(name, path)


if __name__ == '__main__':
    main()
