#!/usr/bin/env bash
# Builds the Debian package build/release/kavrel-companion_<version>_amd64.deb from the release preset
# and checks what it installs: the desktop entry (desktop-file-validate), the AppStream metainfo
# (appstreamcli) and the package itself (lintian, which fails on errors and lists its warnings).
# Expects the packages of scripts/install-dependencies.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

# Built with Debian's own hardening flags: fortified functions, stack protector, full RELRO with
# immediate binding.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake --preset release -DCMAKE_INSTALL_PREFIX=/usr \
    "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
cmake --build --preset release
(cd build/release && cpack -G DEB)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
package="build/release/kavrel-companion_${version}_amd64.deb"

contents=$(mktemp -d)
trap 'rm -rf "${contents}"' EXIT
dpkg-deb --extract "${package}" "${contents}"
desktop-file-validate "${contents}"/usr/share/applications/*.desktop
appstreamcli validate --no-net "${contents}"/usr/share/metainfo/*.metainfo.xml
lintian --fail-on error "${package}"

echo "${package}: $(du -h "${package}" | cut -f1)"
