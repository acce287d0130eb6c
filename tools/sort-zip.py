#!/usr/bin/env python3
"""Rewrites a ZIP in place with its members sorted by name, each as it was (name, time, modes,
extra fields, compression method): the order no longer follows the folder it was made from."""
import os
import sys
import zipfile

path = sys.argv[1]
with zipfile.ZipFile(path) as source:
    members = [(info, source.read(info)) for info in source.infolist()]
with zipfile.ZipFile(path + ".sorted", "w") as target:
    for info, data in sorted(members, key=lambda member: member[0].filename):
        target.writestr(info, data, compress_type=info.compress_type, compresslevel=9)
os.replace(path + ".sorted", path)
