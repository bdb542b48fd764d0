#!/usr/bin/env bash
# Builds the client and the reference alert server, starts the server on
# 127.0.0.1:9339 and the client with the sample configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh release
if [ ! -x build/tavisk-alerts ] || [ ! -x build/tavisk-alert-server ]; then
    echo "run-demo: the client is not built yet" >&2
    exit 1
fi
echo "run-demo: the demo is not wired up yet" >&2
exit 1
