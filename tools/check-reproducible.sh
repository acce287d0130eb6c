#!/usr/bin/env bash
# Checks that the release is reproducible bit for bit: a second run of tools/release.sh, from a
# fresh clone of the same commit in a folder of another depth, on another file system (a tmpfs),
# with another time zone, another umask and at another time of day, must write the same bytes as
# the release in dist/ and dist-source/. Where a package differs, diffoscope says how. Needs
# dist/ made from the committed tree, and root (to mount the tmpfs).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages git

[[ -f $ROOT/dist/SHA256SUMS ]] || bash "$ROOT/tools/release.sh"
if [[ -n $(git -C "$ROOT" status --porcelain --untracked-files=no) ]]; then
    echo "check-reproducible: the work tree has uncommitted changes, so dist/ is not the" \
        "commit's release; commit them to check reproducibility" >&2
    exit 1
fi

echo "== Reproducibility: a second release from a fresh clone"
started=$SECONDS
# Deeper than the project, with the shared folder (Qt for Windows) beside the clone as it is
# beside the project.
work="$ROOT/build/reproduce"
mountpoint -q "$work" && umount "$work"
rm -rf "$work"
mkdir -p "$work"
# A tmpfs lists folders in another order and counts other block sizes than the usual disks.
mount -t tmpfs -o size=12g,mode=0755 zorvik-reproduce "$work" ||
    { echo "check-reproducible: cannot mount a tmpfs on $work (root needed)" >&2; exit 1; }
trap 'cd "$ROOT"; umount "$work" 2>/dev/null || true' EXIT
clone="$work/another/deeper/folder/Zorvik_QRCode"
mkdir -p "$(dirname "$clone")"
[[ -d $ROOT/../shared ]] && ln -s "$(cd "$ROOT/../shared" && pwd)" "$(dirname "$clone")/shared"
git clone -q --no-hardlinks "$ROOT" "$clone"
(
    umask 077
    export TZ=Pacific/Kiritimati
    # The clone builds Qt's prefixes of its own (unpacked from the same archives) unless they
    # were named, as in the workflow, where both runs use the same ones.
    cd "$clone" && bash tools/release.sh >"$work/release.log" 2>&1
) || {
    tail -n 40 "$work/release.log" >&2
    echo "check-reproducible: the second release failed" >&2
    exit 1
}

echo "On $(stat -f -c %T "$ROOT/dist") (dist/):"
cat "$ROOT/dist/SHA256SUMS"
echo "On $(stat -f -c %T "$clone/dist") (the clone's dist/):"
cat "$clone/dist/SHA256SUMS"
differ=()
for folder in dist dist-source; do
    for file in "$ROOT/$folder"/*; do
        cmp -s "$file" "$clone/$folder/$(basename "$file")" || differ+=("$folder/$(basename "$file")")
    done
    [[ $(cd "$ROOT/$folder" && ls) == $(cd "$clone/$folder" && ls) ]] ||
        differ+=("(the list of files in $folder)")
done
if ((${#differ[@]})); then
    ensure_packages diffoscope-minimal
    for name in "${differ[@]}"; do
        [[ -f $clone/$name ]] || continue
        echo "-- $name differs:" >&2
        diffoscope --text - "$ROOT/$name" "$clone/$name" 2>&1 | head -n 60 >&2 || true
    done
    echo "check-reproducible: not the same bytes: ${differ[*]}" >&2
    exit 1
fi
umount "$work"
rmdir "$work"
trap - EXIT
echo "Reproducible: both releases wrote the same bytes ($((SECONDS - started)) s)."
