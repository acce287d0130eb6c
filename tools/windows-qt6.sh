#!/usr/bin/env bash
# Provides Qt 6 for Windows (the Windows 10-11 build) and prints its prefix: see windows-qt.sh.
exec bash "$(dirname "${BASH_SOURCE[0]}")/windows-qt.sh" 6 "$@"
