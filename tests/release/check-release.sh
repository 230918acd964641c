#!/usr/bin/env bash
# The release as an administrator receives it: scripts/release.sh writes a
# zip whose four binaries' signatures verify against the certificate used
# (osslsigncode verify), whose SHA256SUMS check out, and where a changed
# byte breaks a signature. Once test-signed, once with a given PKCS#12
# certificate (made here, issued by a throwaway authority).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/kit-release-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
binaries=(Uninstall.exe Sweepup.exe ZIVOEncryptKeyImport.exe ZIVOCommon.dll)
fail() { echo "FAILED: $*"; exit 1; }

# Unpacks a release and checks it: the signatures against CAFILE.
check() { # zip, cafile, expected signer
    local zip=$1 cafile=$2 signer=$3 folder
    rm -rf "$work/unpacked"
    mkdir -p "$work/unpacked"
    unzip -q "$zip" -d "$work/unpacked"
    folder=$(find "$work/unpacked" -mindepth 1 -maxdepth 1 -type d)
    [ "$(cd "$folder" && ls | LC_ALL=C sort | tr '\n' ' ')" = "README.md SHA256SUMS Sweepup.exe Uninstall.exe ZIVOCommon.dll ZIVOEncryptKeyImport.exe remove-product.cmd " ] ||
        fail "the zip holds $(cd "$folder" && ls | tr '\n' ' ')"
    (cd "$folder" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not check out"
    for file in "${binaries[@]}"; do
        local out
        out=$(osslsigncode verify -CAfile "$cafile" -in "$folder/$file" 2>&1) || fail "$file: $out"
        grep -q "Signer's certificate:" <<<"$out" || fail "$file: no signer"
        grep -A3 "Signer's certificate:" <<<"$out" | grep -qF "$signer" || fail "$file is not signed by $signer"
        echo "  $file: signed by $signer, verifies"
    done
    # One changed byte, well inside the code: the signature no longer holds.
    python3 -c "import sys; p=sys.argv[1]; d=bytearray(open(p,'rb').read()); d[0x1200]^=1; open(p+'.changed','wb').write(d)" \
        "$folder/Uninstall.exe"
    if osslsigncode verify -CAfile "$cafile" -in "$folder/Uninstall.exe.changed" >/dev/null 2>&1; then
        fail "a changed byte still verifies"
    fi
    echo "  a changed byte breaks the signature"
}

echo "Test-signed release:"
out=$(KIT_DIST="$work/dist-test" "$root/scripts/release.sh" 2>&1) || { echo "$out"; fail "release.sh"; }
grep -q "^TEST-SIGNED" <<<"$out" || fail "the output does not say it is test-signed"
zip=$(ls "$work"/dist-test/*-TEST-SIGNED.zip) || fail "no test-signed zip"
check "$zip" "$(ls "$work"/dist-test/*-certificate.pem)" "TEST signing"
unzip -p "$zip" '*/README.md' | grep -q "Test-signed" || fail "the administrator's README does not say test-signed"

echo "Release signed with a given certificate:"
ca="$work/ca"
mkdir -p "$ca"
openssl req -x509 -newkey rsa:3072 -sha256 -days 2 -nodes -keyout "$ca/ca-key.pem" -out "$ca/ca.pem" \
    -subj "/O=Kit test/CN=Kit test root" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:3072 -sha256 -nodes -keyout "$ca/key.pem" -out "$ca/request.pem" \
    -subj "/O=HALVERN/CN=HALVERN code signing (kit test)" 2>/dev/null
printf 'extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature\n' > "$ca/extensions.cnf"
openssl x509 -req -in "$ca/request.pem" -CA "$ca/ca.pem" -CAkey "$ca/ca-key.pem" -CAcreateserial -days 2 -sha256 \
    -extfile "$ca/extensions.cnf" -out "$ca/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$ca/key.pem" -in "$ca/cert.pem" -certfile "$ca/ca.pem" -out "$ca/signing.p12" \
    -passout pass:kit-test-password
out=$(KIT_DIST="$work/dist-given" KIT_SIGN_PKCS12="$ca/signing.p12" KIT_SIGN_PASSWORD=kit-test-password \
    "$root/scripts/release.sh" 2>&1) || { echo "$out"; fail "release.sh with a given certificate"; }
grep -q "TEST-SIGNED" <<<"$out" && fail "a release with a given certificate says test-signed"
zip=$(ls "$work"/dist-given/HALVERN-Dactyra-kit-*.zip) || fail "no zip"
check "$zip" "$ca/ca.pem" "HALVERN code signing (kit test)"
# Against an unrelated authority, the same files do not verify.
rm -rf "$work/unpacked"
unzip -q "$zip" -d "$work/unpacked"
other=$(ls "$work"/dist-test/*-certificate.pem)
if osslsigncode verify -CAfile "$other" -in "$(find "$work/unpacked" -name Uninstall.exe)" >/dev/null 2>&1; then
    fail "verifies against a certificate that did not sign it"
fi
echo "  does not verify against another certificate"
echo "Release checks passed."
