#!/bin/sh
# Throwaway code-signing certificates and Authenticode signatures, for tests
# of the package checks (Windows Installer packages and programs alike).
# Usage: sign.sh cert DIR SUBJECT   a self-signed code-signing certificate with
#                                   a new key each time: DIR/cert.pem, DIR/key.pem
#        sign.sh sign DIR IN OUT    IN signed with DIR's certificate, as OUT
# SUBJECT is openssl's form, "/CN=.../O=.../C=..". Needs openssl and osslsigncode.
set -eu

case ${1:-} in
cert)
    mkdir -p "$2"
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "$3" -addext extendedKeyUsage=codeSigning \
        -keyout "$2/key.pem" -out "$2/cert.pem" 2>/dev/null
    ;;
sign)
    rm -f "$4"
    osslsigncode sign -certs "$2/cert.pem" -key "$2/key.pem" -h sha256 -in "$3" -out "$4" >/dev/null
    ;;
*)
    echo "usage: sign.sh cert DIR SUBJECT | sign.sh sign DIR IN OUT" >&2
    exit 2
    ;;
esac
