#!/usr/bin/env bash
# Signs Windows programs in place with Authenticode (SHA-256), so that Windows names their
# publisher:
#   scripts/sign.sh [--timestamp URL] KEY CERT PROGRAM...
# KEY is the private key and CERT the certificate (PEM or DER); a PEM CERT may hold the
# intermediate certificates after the vendor's own. Without a time stamp the signature is valid
# only while the certificate is; --timestamp asks the RFC 3161 server at URL for one (no server
# is asked unless named). More osslsigncode options come from SIGN_OPTIONS, such as
# "-readpass FILE" for a key with a passphrase or "-n 'Product name'" for the description.
source "$(dirname "$0")/lib.sh"

usage() {
  echo "usage: scripts/sign.sh [--timestamp URL] KEY CERT PROGRAM..." >&2
  exit 2
}
timestamp=()
if [ "${1:-}" = --timestamp ]; then
  [ $# -ge 2 ] || usage
  timestamp=(-ts "$2")
  shift 2
fi
[ $# -ge 3 ] || usage
key=$1 cert=$2
shift 2
for file in "$key" "$cert"; do
  [ -r "$file" ] || { log "cannot read $file"; exit 1; }
done
install_missing osslsigncode
# Split as the shell would, so that quoted words keep their spaces.
options=()
eval "options=(${SIGN_OPTIONS:-})"

for program in "$@"; do
  # osslsigncode writes a new file; the program is replaced only by a complete signed copy.
  signed=$program.signing
  rm -f "$signed"
  if ! osslsigncode sign -h sha256 -certs "$cert" -key "$key" "${timestamp[@]}" "${options[@]}" \
    -in "$program" -out "$signed" >"$signed.log" 2>&1; then
    cat "$signed.log" >&2
    rm -f "$signed" "$signed.log"
    log "signing $program failed"
    exit 1
  fi
  rm -f "$signed.log"
  mv "$signed" "$program"
  log "signed $program"
done
