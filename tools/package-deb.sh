#!/usr/bin/env bash
# Builds the Debian package of the client and the reference server into
# build-deb/ (a release build with Debian's hardening flags), checks it with
# lintian, desktop-file-validate and appstreamcli, and prints the package's
# path as the last line. Installs what is missing on Debian 12 first.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh deb >&2
cd build-deb
rm -f ./*.deb
cpack -G DEB >&2
deb=$(ls "$PWD"/*.deb)

# The checks look at the files as the package holds them.
contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
desktop-file-validate "$contents"/usr/share/applications/*.desktop >&2
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml >&2
# lintian exits non-zero on errors (and only then, with --fail-on error).
lintian --fail-on error --info "$deb" >&2

echo "$deb"
