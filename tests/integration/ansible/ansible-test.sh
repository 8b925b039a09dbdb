#!/usr/bin/env bash
# ansible-test on the built and installed collection: `sanity` or `units`.
# Usage: ansible-test.sh SOURCE_DIR sanity|units
SOURCE_DIR=${1:?usage: ansible-test.sh SOURCE_DIR sanity|units}
kind=${2:?usage: ansible-test.sh SOURCE_DIR sanity|units}
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/collection-env.sh"
python=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
cd "$COLLECTION"
case $kind in
units)
  ansible-test units --python "$python" ;;
sanity)
  # The tests that run with Debian's packages: those that need none, and those whose pinned
  # packages Debian has in a version that behaves the same (made by debian-sanity-venvs.py).
  # Left out, because ansible-test would fetch their packages from the network:
  #   pylint    Debian's pylint 2.16 is not the 2.15 that ansible-test's own checkers are made for
  #   import    it builds a bare environment per target Python with pip from the network
  #   changelog antsibull-changelog is not packaged by Debian
  "$HERE/debian-sanity-venvs.py" ansible-doc validate-modules runtime-metadata pep8 yamllint \
    integration-aliases >/dev/null
  ansible-test sanity --python "$python" --skip-test pylint --skip-test import --skip-test changelog ;;
*)
  fail "unknown kind $kind" ;;
esac
