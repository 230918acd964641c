#!/usr/bin/env bash
# Builds the kit for release and writes dist/: a zip named with the kit's
# version that holds the four signed binaries, the administrator's README
# (docs/ADMIN.md), the removal recipe (docs/remove-product.cmd) and
# SHA256SUMS. Signs with the certificate that
# KIT_SIGN_PKCS12 and KIT_SIGN_PASSWORD name, or else with a throwaway test
# certificate, and says so (scripts/signing.sh). The certificate used (and
# its chain) is written beside the zip, for checking the signatures. KIT_DIST
# sets where dist/ goes. Every signature and checksum is verified before the
# zip is written.
set -euo pipefail
# shellcheck source=kit.sh
source "$(dirname "$0")/kit.sh"
# shellcheck source=signing.sh
source "$KIT_ROOT/scripts/signing.sh"
"$KIT_ROOT/scripts/install-deps.sh"

version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$KIT_ROOT/CMakeLists.txt")
[ -n "$version" ] || { echo "no project version in CMakeLists.txt" >&2; exit 1; }
build="$KIT_BUILD/release"
dist=${KIT_DIST:-$KIT_ROOT/dist}
work=$(mktemp -d /tmp/kit-release.XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "== Building $version (Release)"
kit_step "configure (release)" cmake -S "$KIT_ROOT" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$KIT_ROOT/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
kit_step "build (release)" cmake --build "$build" -j"$(nproc)" --target ZIVOEncryptKeyImport Uninstall Sweepup zivocommon

echo "== Signing"
signing_setup "$work/certificate"
staging="$work/staging"
mkdir -p "$staging"
declare -A descriptions=(
    [ZIVOEncryptKeyImport.exe]="HALVERN Dactyra Key Import"
    [Uninstall.exe]="HALVERN Dactyra Uninstall"
    [Sweepup.exe]="HALVERN Dactyra Sweepup"
    [ZIVOCommon.dll]="HALVERN Dactyra Key Library"
)
binaries=(Uninstall.exe Sweepup.exe ZIVOEncryptKeyImport.exe ZIVOCommon.dll)
for file in "${binaries[@]}"; do
    sign_file "$build/bin/$file" "$staging/$file" "${descriptions[$file]}"
    verify_file "$staging/$file" || { echo "the signature of $file does not verify" >&2; exit 1; }
done

if [ "$SIGNING_KIND" = test ]; then
    note="**Test-signed.** These files are signed with a throwaway certificate made for this build
($SIGNING_SUBJECT): the signature shows the files are whole, not who made
them, and Windows does not trust it. Do not deploy them; deploy a build
signed with the organisation's code-signing certificate."
    name="HALVERN-Dactyra-kit-$version-TEST-SIGNED"
else
    note="Signed by: $SIGNING_SUBJECT."
    name="HALVERN-Dactyra-kit-$version"
fi
{
    sed -e "s/@KIT_VERSION@/$version/g" "$KIT_ROOT/docs/ADMIN.md" | sed -e "/@KIT_SIGNING_NOTE@/d"
    printf '%s\n' "$note"
} > "$staging/README.md"
cp "$KIT_ROOT/docs/remove-product.cmd" "$staging/"
(cd "$staging" && sha256sum "${binaries[@]}" README.md remove-product.cmd > SHA256SUMS && sha256sum --quiet -c SHA256SUMS)

echo "== Writing $dist/$name.zip"
rm -rf "$dist"
mkdir -p "$dist/$name"
cp "$staging"/* "$dist/$name/"
(cd "$dist" && kit_step "zip" zip -q -X -r "$name.zip" "$name")
rm -rf "${dist:?}/$name"
cp "$SIGNING_CERTS" "$dist/$name-certificate.pem"

echo
unzip -l "$dist/$name.zip"
echo
cat "$staging/SHA256SUMS"
echo
if [ "$SIGNING_KIND" = test ]; then
    echo "TEST-SIGNED: signed with a throwaway certificate made for this run, not for deployment."
else
    echo "Signed with the given certificate: $SIGNING_SUBJECT"
fi
echo "Every signature verifies against the certificate used; SHA256SUMS checks out."
