#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the command given in a private network namespace that has only its loopback
# interface up, with multicast on it: programs in it find each other and no packet
# leaves it. Fails, saying why, where such a namespace cannot be made.
if ! unshare -n true 2>/dev/null; then
  echo "netns-run: cannot make a private network namespace (unshare -n needs root or user namespaces)" >&2
  exit 1
fi
exec unshare -n sh -c 'ip link set lo up multicast on && ip route add 224.0.0.0/4 dev lo && exec "$@"' netns-run "$@"
