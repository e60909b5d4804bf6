#!/usr/bin/env bash
# Authenticode (SHA-256) signing of the release's plug-in and installer with osslsigncode.
#
#   sign.sh signer         checks the certificate the environment gives and prints its subject;
#                          prints nothing when the environment gives none (an unsigned release)
#   sign.sh sign FILE...   signs each FILE in place and checks the signature
#
# The certificate: PYRIX_SIGN_CERT and PYRIX_SIGN_KEY (PEM files; PYRIX_SIGN_PASSWORD if the key
# is encrypted), or PYRIX_SIGN_PKCS12 with PYRIX_SIGN_PASSWORD. A certificate that is missing,
# unreadable, expired, not yet valid or not the key's stops with a message naming it, before any
# file is touched. A FILE is replaced only by its checked, signed copy: never half-signed.
set -euo pipefail

fail() {
  echo "sign: $*" >&2
  exit 1
}

work="$(mktemp -d)"
chmod 700 "$work"
trap 'rm -rf "$work"' EXIT

cert_file="" key_file="" pass_file=""

# The certificate and key as PEM files. Out of a PKCS#12 file they are written into $work, which
# only this user can read and which goes on exit; so does a PEM key's password, for osslsigncode.
load_certificate() {
  local cert="${PYRIX_SIGN_CERT:-}" key="${PYRIX_SIGN_KEY:-}" p12="${PYRIX_SIGN_PKCS12:-}"
  if [[ -n "$p12" ]]; then
    [[ -z "$cert$key" ]] || fail "give PYRIX_SIGN_PKCS12 or PYRIX_SIGN_CERT and PYRIX_SIGN_KEY, not both"
    [[ -r "$p12" ]] || fail "PYRIX_SIGN_PKCS12: cannot read $p12"
    [[ -n "${PYRIX_SIGN_PASSWORD+set}" ]] || fail "PYRIX_SIGN_PKCS12 needs PYRIX_SIGN_PASSWORD"
    # Files from older tools use ciphers that OpenSSL 3 reads only with -legacy.
    local legacy=""
    openssl pkcs12 -in "$p12" -passin env:PYRIX_SIGN_PASSWORD -noout 2>/dev/null ||
      legacy=-legacy
    openssl pkcs12 $legacy -in "$p12" -passin env:PYRIX_SIGN_PASSWORD -nokeys -clcerts \
      -out "$work/cert.pem" 2>"$work/err" ||
      fail "PYRIX_SIGN_PKCS12: cannot open $p12 (wrong password?): $(head -n 1 "$work/err")"
    openssl pkcs12 $legacy -in "$p12" -passin env:PYRIX_SIGN_PASSWORD -nocerts -nodes \
      -out "$work/key.pem" 2>"$work/err" || fail "PYRIX_SIGN_PKCS12: no key in $p12"
    [[ -s "$work/cert.pem" ]] || fail "PYRIX_SIGN_PKCS12: no certificate in $p12"
    cert_file="$work/cert.pem" key_file="$work/key.pem"
  else
    [[ -n "$cert" && -n "$key" ]] ||
      fail "PYRIX_SIGN_CERT and PYRIX_SIGN_KEY go together (one of them is not set)"
    [[ -r "$cert" ]] || fail "PYRIX_SIGN_CERT: cannot read $cert"
    [[ -r "$key" ]] || fail "PYRIX_SIGN_KEY: cannot read $key"
    cert_file="$cert" key_file="$key"
    if [[ -n "${PYRIX_SIGN_PASSWORD:-}" ]]; then
      (umask 077 && printf '%s' "$PYRIX_SIGN_PASSWORD" >"$work/pass")
      pass_file="$work/pass"
    fi
  fi
  openssl x509 -in "$cert_file" -noout 2>/dev/null || fail "$cert_file is not a PEM certificate"
  local cert_public key_public
  cert_public="$(openssl x509 -in "$cert_file" -noout -pubkey)"
  key_public="$(openssl pkey -in "$key_file" -pubout ${pass_file:+-passin "file:$pass_file"} \
    2>/dev/null)" || fail "$key_file is not a readable private key (wrong password?)"
  [[ "$cert_public" == "$key_public" ]] ||
    fail "the certificate $cert_file does not belong to the key $key_file"
  local not_before not_after
  not_before="$(openssl x509 -in "$cert_file" -noout -startdate | cut -d= -f2)"
  not_after="$(openssl x509 -in "$cert_file" -noout -enddate | cut -d= -f2)"
  openssl x509 -in "$cert_file" -noout -checkend 0 >/dev/null ||
    fail "the certificate $cert_file expired on $not_after"
  (($(date -d "$not_before" +%s) <= $(date +%s))) ||
    fail "the certificate $cert_file is not valid before $not_before"
}

subject() {
  openssl x509 -in "$cert_file" -noout -subject -nameopt multiline |
    sed -n 's/^ *commonName *= *//p' | head -n 1
}

signed_copy() {
  local file="$1" out="$2" name
  name="$(basename "$file")"
  rm -f "$out"
  local extra=()
  # An installer's signature also covers its summary and the streams' metadata.
  [[ "$file" == *.msi ]] && extra=(-add-msi-dse)
  osslsigncode sign -certs "$cert_file" -key "$key_file" ${pass_file:+-readpass "$pass_file"} \
    -h sha256 -n "$name" "${extra[@]}" -in "$file" -out "$out" >"$work/log" 2>&1 ||
    fail "osslsigncode could not sign $file: $(grep -v '^$' "$work/log" | tail -n 3)"
  # The signature must hold against the very certificate it was made with.
  osslsigncode verify -in "$out" -CAfile "$cert_file" >"$work/log" 2>&1 ||
    grep -q "^Calculated message digest" "$work/log" ||
    fail "the signature of $file does not verify: $(grep -v '^$' "$work/log" | tail -n 3)"
  # (Without the trust chain of a certificate from a CA the check stops short of "ok", but it
  # still prints the digest stored in the signature beside the one of the file's contents.)
  sed -n 's/^Current \([A-Za-z ]*[a-zA-Z]\) *: *\([0-9A-F]*\).*/\1 \2/p' "$work/log" >"$work/current"
  sed -n 's/^Calculated \([A-Za-z ]*[a-zA-Z]\) *: *\([0-9A-F]*\).*/\1 \2/p' "$work/log" \
    >"$work/calculated"
  [[ -s "$work/current" ]] && ! grep -qvxF -f "$work/calculated" "$work/current" ||
    fail "the signature of $file does not match its contents"
}

[[ $# -ge 1 ]] || fail "usage: sign.sh signer | sign.sh sign FILE..."
command="$1"
shift
if [[ -z "${PYRIX_SIGN_CERT:-}${PYRIX_SIGN_KEY:-}${PYRIX_SIGN_PKCS12:-}" ]]; then
  [[ "$command" == signer ]] && exit 0
  fail "no certificate: set PYRIX_SIGN_CERT and PYRIX_SIGN_KEY, or PYRIX_SIGN_PKCS12"
fi
load_certificate
case "$command" in
  signer) subject ;;
  sign)
    [[ $# -ge 1 ]] || fail "sign: no file"
    for file in "$@"; do
      [[ -f "$file" ]] || fail "no file $file"
      signed_copy "$file" "$work/signed"
      cp "$work/signed" "$file.signed"
      mv "$file.signed" "$file"
      echo "signed: $file (by $(subject))"
    done
    ;;
  *) fail "unknown command $command" ;;
esac
