#!/usr/bin/env bash
# Provides Qt 6 for Windows (the Windows 10-11 build) and prints its prefix, or with --source the
# Debian source package it was built from: see windows-qt.sh.
exec bash "$(dirname "${BASH_SOURCE[0]}")/windows-qt.sh" 6 "$@"
