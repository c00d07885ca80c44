# Throwaway certificates for the signing tests, made with openssl in DIR: two
# self-signed authorities that nobody trusts, "authority.pem" and "other.pem", and a
# code-signing certificate issued by the first, "signer.pem" with "signer.key". Source
# it; then call
#   make_throwaway_certs DIR    (non-zero when it failed; DIR/openssl.log says why)
make_throwaway_certs() {
    local dir="$1" name
    for name in authority other; do
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway Test $name" \
            -keyout "$dir/$name.key" -out "$dir/$name.pem" \
            -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign ||
            return 1
    done
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
        >"$dir/signer.ext"
    openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway Tessaly Signer" \
        -keyout "$dir/signer.key" -out "$dir/signer.csr" &&
        openssl x509 -req -in "$dir/signer.csr" -days 1 -CAcreateserial \
            -CA "$dir/authority.pem" -CAkey "$dir/authority.key" -extfile "$dir/signer.ext" \
            -out "$dir/signer.pem"
} >/dev/null 2>"$1/openssl.log"
