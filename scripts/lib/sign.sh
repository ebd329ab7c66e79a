#!/bin/sh
# Throwaway certificates and Authenticode signatures, for tests of the package
# checks and for the benchmark (Windows Installer packages and programs
# alike): a small hierarchy of a certification authority and the leaves it
# issues. Needs openssl and osslsigncode.
# Usage: sign.sh ca DIR SUBJECT        a self-signed CA certificate with a new key:
#                                      DIR/cert.pem, DIR/key.pem, DIR/cert.der
#        sign.sh cert DIR SUBJECT CA   a code-signing certificate with a new key,
#                                      issued by the CA in the folder CA
#        sign.sh sign DIR IN OUT       IN signed with DIR's certificate, carrying
#                                      its CA's certificate, as OUT
#        sign.sh root CA               prints the registry key and value that put
#                                      the CA into a machine's trusted roots
# SUBJECT is openssl's form, "/CN=.../O=.../C=..".
set -eu

case ${1:-} in
ca)
    mkdir -p "$2"
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "$3" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$2/key.pem" -out "$2/cert.pem" 2>/dev/null
    openssl x509 -in "$2/cert.pem" -outform der -out "$2/cert.der"
    ;;
cert)
    mkdir -p "$2"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$2/ext.cnf"
    openssl req -newkey rsa:2048 -nodes -subj "$3" -keyout "$2/key.pem" -out "$2/request.pem" 2>/dev/null
    openssl x509 -req -in "$2/request.pem" -CA "$4/cert.pem" -CAkey "$4/key.pem" -set_serial "0x$(openssl rand -hex 8)" \
        -days 3650 -extfile "$2/ext.cnf" -out "$2/cert.pem" 2>/dev/null
    cp "$4/cert.pem" "$2/ca.pem"
    ;;
sign)
    rm -f "$4"
    osslsigncode sign -certs "$2/cert.pem" -key "$2/key.pem" -ac "$2/ca.pem" -h sha256 -in "$3" -out "$4" >/dev/null
    ;;
root)
    # The system's form of a certificate in the registry: property 0x20 (the
    # encoded certificate), a reserved 1, the length, then the bytes.
    thumbprint=$(openssl x509 -in "$2/cert.der" -inform der -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
    length=$(stat -c %s "$2/cert.der")
    le() { printf '%08x' "$1" | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/'; }
    printf 'HKLM\\Software\\Microsoft\\SystemCertificates\\ROOT\\Certificates\\%s %s%s%s%s\n' "$thumbprint" \
        "$(le 32)" "$(le 1)" "$(le "$length")" "$(od -An -v -tx1 "$2/cert.der" | tr -d ' \n')"
    ;;
*)
    echo "usage: sign.sh ca DIR SUBJECT | cert DIR SUBJECT CA | sign DIR IN OUT | root CA" >&2
    exit 2
    ;;
esac
