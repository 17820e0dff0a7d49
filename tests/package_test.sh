#!/usr/bin/env bash
# Makes the .deb and the .tar.gz with CPack in the build directory BUILD_DIR,
# checks what the tarball holds, unpacks the .deb into a scratch root and
# splits and rebuilds an image with the commands found there. Exits 77
# (skipped) where dpkg-deb or dpkg-shlibdeps is missing.
#   package_test.sh BUILD_DIR WORK_DIR
set -euo pipefail
build_dir=$1
work_dir=$2
for command in dpkg-deb dpkg-shlibdeps; do
  command -v "$command" > /dev/null ||
    { echo "$command is not installed (dpkg-dev)"; exit 77; }
done
rm -rf "$work_dir"
mkdir -p "$work_dir"
cd "$build_dir"
cpack -G "DEB;TGZ" -B "$work_dir/packages" > "$work_dir/cpack.log" ||
  { cat "$work_dir/cpack.log"; exit 1; }
deb=$(echo "$work_dir"/packages/parse-logo-bin_*.deb)
tarball=$(echo "$work_dir"/packages/parse-logo-bin-*.tar.gz)

dpkg-deb --field "$deb" Package Section Depends Description
[[ $(dpkg-deb --field "$deb" Package) == parse-logo-bin ]]
[[ $(dpkg-deb --field "$deb" Section) == utils ]]
[[ $(dpkg-deb --field "$deb" Depends) == *libc6* ]]

contents=$(tar -tzf "$tarball")
for wanted in bin/parse_logo_bin bin/rebuild_logo_image \
    man/man1/parse_logo_bin.1 man/man1/rebuild_logo_image.1 \
    include/parse_logo_bin.hpp lib/libparse_logo_bin.a \
    lib/cmake/parse_logo_bin/parse_logo_binConfig.cmake \
    lib/pkgconfig/parse_logo_bin.pc; do
  grep -q "/$wanted\$" <<< "$contents" ||
    { echo "the tarball lacks $wanted"; exit 1; }
done

root=$work_dir/root
dpkg-deb -x "$deb" "$root"
run=$work_dir/run
mkdir -p "$run"
printf '0123456789abcdef, the body of the image\n' > "$work_dir/image"
cp "$work_dir/image" "$run/logo_no_compressed.bin"
(cd "$run" && "$root/usr/bin/parse_logo_bin")
[[ $(cat "$run/logo_no_compressed_header.bin") == 0123456789abcdef ]]
(cd "$run" && "$root/usr/bin/rebuild_logo_image")
cmp "$work_dir/image" "$run/logo_no_compressed.bin"
[[ ! -e "$run/logo_no_compressed_header.bin" ]]
rm -rf "$work_dir"
echo "the .deb's commands split and rebuilt the image"
