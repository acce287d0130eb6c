# shellcheck shell=bash disable=SC2034 # read by the scripts that source it
# The pins of Qt for Windows, in one place: what the Windows packages' Qt is built from, and the
# tree hash (tree_sha256 in common.sh: every file of the prefix but Qt's SBOM) that each prefix
# must give. Sourced by tools/windows-qt.sh, the Qt build scripts, the notices, dist-source.sh and
# the release workflow; plain NAME=VALUE lines, so that other tools can read it too.
#
# Two sets, so that a change of how Qt is built never makes the test command wait for a Qt build:
# - CURRENT_*: the prefixes the test command and the release use now, the prebuilt archives in
#   ../shared/ beside the project (their SHA-256 and tree hash). An archive is used only while it
#   matches these.
# - NEXT_*: what tools/build-qt*-mingw.sh build today from the sources below. The release workflow
#   builds Qt when its cache has none and stops, before it caches anything, unless the prefix
#   gives these tree hashes. Archives made by those scripts (tools/windows-qt.sh --make-archive)
#   replace the current ones once they give exactly the next tree hashes: then NEXT becomes
#   CURRENT.
# A source is "PACKAGE VERSION SUITE": a Debian 13 source package, fetched through
# tools/debian-sources.sh, checked against its .dsc and published in dist-source/.

# The sources (the NEXT build's; CURRENT_*_LIBRARIES says which of them the current prefixes use).
QT6_VERSION=6.8.2
QT6_SOURCE="qt6-base 6.8.2+dfsg-9+deb13u2 trixie"
# The time every build writes (SOURCE_DATE_EPOCH) and the archives' file times: the date of the
# source's latest Debian changelog entry.
QT6_SOURCE_DATE_EPOCH=1777882896
QT5_VERSION=5.15.15
QT5_SOURCE="qtbase-opensource-src 5.15.15+dfsg-6+deb13u1 trixie"
QT5_SOURCE_DATE_EPOCH=1772301304
# The QR library, static in each prefix (only its upstream tarball is used).
QR_SOURCE="qr-code-generator 1.8.0-1.2 trixie"
QR_ORIG=qr-code-generator_1.8.0.orig.tar.gz
# Compiled into Qt's DLLs in place of the copies bundled in Qt's source (-system-*, static):
# zlib as Debian 13 builds it for mingw-w64 (libz-mingw-w64-dev, a pinned package of the
# environment), libpng and PCRE2 cross-built from their Debian 13 source packages with Debian's
# patches.
ZLIB_SOURCE="libz-mingw-w64 1.3.1+dfsg-2 trixie"
LIBPNG_SOURCE="libpng1.6 1.6.48-1+deb13u6 trixie"
PCRE2_SOURCE="pcre2 10.46-1~deb13u3 trixie"

# In use now: the archives in ../shared/windows-qt6.8 and ../shared/windows-qt5.15.15, built by
# hand from the same Qt sources with Qt's bundled zlib, libpng, PCRE2, HarfBuzz and FreeType.
CURRENT_QT6_ARCHIVE_SHA256=eba412ed00a20549b98b8371a8083330b2aec0b10f31fabfe791eea0f185df56
CURRENT_QT6_TREE=88b2628f2ffe1c81a456208741d636816087adec97160db94ff49195fc3514d3
CURRENT_QT6_LIBRARIES=""
CURRENT_QT5_ARCHIVE_SHA256=58f2b57b12a0d4cb462580e0e76217f1930788f1bbd47767fc6008d0a6c14f6a
CURRENT_QT5_TREE=84f99f4b8a6b5e05c7caf8a0b709ac31cb1f2da7919b6a7eb7a11457ec61f893
CURRENT_QT5_LIBRARIES=""

# Next: the tree hashes tools/build-qt*-mingw.sh give from the sources above, whatever folder the
# clone is in and whenever they run. EMPTY: NOT YET MEASURED from these sources. The mirror the
# scripts were first run against lacked the Debian parts of libpng1.6 1.6.48-1+deb13u6 and pcre2
# 10.46-1~deb13u3; Qt 5.15.15 built twice with libpng1.6 1.6.48-1 and pcre2 10.46-1~deb13u1
# instead (ZORVIK_SOURCES_FROM_POOL=1), from two clones in different folders, gave the same tree,
# 702de9e6fef1e0d665513e550729503e181d48f99ae35da5ce1658bdcba5ae9e, which is not a pin: the
# pinned sources give another. Qt 6.8.2 has not been built by the scripts yet.
NEXT_QT6_TREE=""
NEXT_QT5_TREE=""
NEXT_LIBRARIES="ZLIB LIBPNG PCRE2"
