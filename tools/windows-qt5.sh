#!/usr/bin/env bash
# Provides Qt 5.15 for Windows (the Windows 7-8 build) and prints its prefix: see windows-qt.sh.
exec bash "$(dirname "${BASH_SOURCE[0]}")/windows-qt.sh" 5 "$@"
