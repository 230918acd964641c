# Sourced by release.sh and its test: Authenticode signing with osslsigncode.
#
# With KIT_SIGN_PKCS12 (a PKCS#12 file) and KIT_SIGN_PASSWORD in the
# environment, that certificate signs; otherwise a throwaway certificate is
# made for this run, and what it signs is test-signed only. With
# KIT_TIMESTAMP_URL, each signature gets an RFC 3161 time stamp from it.

SIGNING_KIND=""    # "given" or "test"
SIGNING_CAFILE=""  # what a signature is verified against
SIGNING_CERTS=""   # the certificate used (and its chain), to publish beside the files
SIGNING_SUBJECT="" # the signing certificate's subject

# signing_setup FOLDER: prepares the certificate (a throwaway one is made in
# FOLDER).
signing_setup() {
    local folder=$1
    mkdir -p "$folder"
    if [ -n "${KIT_SIGN_PKCS12:-}" ]; then
        [ -f "$KIT_SIGN_PKCS12" ] || { echo "KIT_SIGN_PKCS12: no such file: $KIT_SIGN_PKCS12" >&2; return 1; }
        SIGNING_KIND=given
        # The certificate, its chain as the file carries it, and the system's
        # roots: what the signature must chain to.
        kit_step "certificate from KIT_SIGN_PKCS12" openssl pkcs12 -in "$KIT_SIGN_PKCS12" -nokeys \
            -passin env:KIT_SIGN_PASSWORD -out "$folder/chain.pem" || return 1
        cat "$folder/chain.pem" /etc/ssl/certs/ca-certificates.crt > "$folder/verify.pem" 2>/dev/null ||
            cp "$folder/chain.pem" "$folder/verify.pem"
        SIGNING_CAFILE="$folder/verify.pem"
        SIGNING_CERTS="$folder/chain.pem"
        # The password for osslsigncode, readable by this user only, in the
        # caller's throwaway folder.
        (umask 077 && printf '%s' "${KIT_SIGN_PASSWORD:-}" > "$folder/password")
        SIGNING_SUBJECT=$(openssl pkcs12 -in "$KIT_SIGN_PKCS12" -nokeys -clcerts -passin env:KIT_SIGN_PASSWORD 2>/dev/null |
            openssl x509 -noout -subject 2>/dev/null | sed 's/^subject=//')
    else
        SIGNING_KIND=test
        kit_step "throwaway test certificate" openssl req -x509 -newkey rsa:3072 -sha256 -days 30 -nodes \
            -keyout "$folder/test-key.pem" -out "$folder/test-cert.pem" \
            -subj "/O=HALVERN/CN=HALVERN Dactyra TEST signing, not trusted" \
            -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" || return 1
        SIGNING_CAFILE="$folder/test-cert.pem"
        SIGNING_CERTS="$folder/test-cert.pem"
        SIGNING_SUBJECT=$(openssl x509 -in "$SIGNING_CAFILE" -noout -subject | sed 's/^subject=//')
    fi
}

# sign_file IN OUT DESCRIPTION
sign_file() {
    local in=$1 out=$2 description=$3
    local key=()
    if [ "$SIGNING_KIND" = given ]; then
        key=(-pkcs12 "$KIT_SIGN_PKCS12" -readpass "$(dirname "$SIGNING_CERTS")/password")
    else
        key=(-certs "$SIGNING_CAFILE" -key "$(dirname "$SIGNING_CAFILE")/test-key.pem")
    fi
    local stamp=()
    [ -n "${KIT_TIMESTAMP_URL:-}" ] && stamp=(-ts "$KIT_TIMESTAMP_URL")
    rm -f "$out"
    kit_step "signing $(basename "$in")" osslsigncode sign "${key[@]}" -h sha256 -n "$description" \
        "${stamp[@]}" -in "$in" -out "$out"
}

# verify_file FILE: the signature holds and chains to the certificate used.
verify_file() {
    osslsigncode verify -CAfile "$SIGNING_CAFILE" -in "$1" >/dev/null 2>&1
}
