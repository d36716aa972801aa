#!/bin/sh
# Installs the build into a temporary prefix and checks the layout: programs, libraries and the
# plug-in in one folder, links in bin/, a valid desktop file and metainfo, the icon theme, the
# man pages and the bash completion.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
dir="$prefix/lib/quillet"
[ -d "$dir" ] || dir=$(dirname "$(find "$prefix" -name Quilmain -type f | head -1)")
for file in Quilmain quilgrab trackpump.so libQuilmedia.so libQuildisc.so libQuilline.so update.ini; do
    [ -e "$dir/$file" ] || { echo "missing $file in $dir" >&2; exit 1; }
done
[ -x "$prefix/bin/Quilmain" ] && [ -x "$prefix/bin/quilgrab" ] || { echo "missing bin links" >&2; exit 1; }
for size in 16 32 48 256; do
    [ -s "$prefix/share/icons/hicolor/${size}x${size}/apps/quillet.png" ] || { echo "missing icon $size" >&2; exit 1; }
done
desktop="$prefix/share/applications/quillet.desktop"
[ -f "$desktop" ] || { echo "missing desktop file" >&2; exit 1; }
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi
metainfo="$prefix/share/metainfo/org.corvane.quillet.metainfo.xml"
[ -f "$metainfo" ] || { echo "missing AppStream metainfo" >&2; exit 1; }
if command -v appstreamcli >/dev/null; then appstreamcli validate --no-net "$metainfo" >/dev/null; fi
for page in Quilmain quilgrab Quilmend; do
    gzip -t "$prefix/share/man/man1/$page.1.gz" || { echo "missing man page $page" >&2; exit 1; }
done
bash -n "$prefix/share/bash-completion/completions/quilgrab" || { echo "bad completion" >&2; exit 1; }
# The installed grabber runs from its new place and finds its libraries.
"$prefix/bin/quilgrab" --help >/dev/null 2>&1 || "$prefix/bin/quilgrab" >/dev/null 2>&1 || [ $? -le 2 ]
ldd "$dir/Quilmain" | grep -q "not found" && { echo "unresolved libraries" >&2; exit 1; }
echo "installed layout ok"
