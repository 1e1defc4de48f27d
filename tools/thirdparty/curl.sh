# libcurl for the stand-in control's HTTP cameras (recipe of
# tools/build-thirdparty.sh): Debian bookworm's curl 7.88, one shared DLL,
# HTTP and HTTPS only, Windows' own Schannel for TLS, and nothing else: no
# other protocol, no proxy, no cookies, no compression, IDN, PSL or SSH
# library, and none of curl's own sign-in (the control signs in itself:
# docs/decisions.md says why). Windows threads for name lookups; libgcc
# linked in, so the DLL imports only Windows' own DLLs (Schannel's it loads
# when it needs them).
package=curl
version_pattern='^7\.88\.'

build() {
  local src="$1" prefix="$2" triplet="$3" name
  cd "$src"
  ./configure --prefix="$prefix" --host="$triplet" \
    CC="$triplet-gcc-posix" LDFLAGS=-static-libgcc \
    --enable-shared --disable-static --disable-debug --disable-curldebug \
    --disable-dependency-tracking --disable-manual --disable-libcurl-option \
    --with-schannel --without-openssl --without-ca-bundle --without-ca-path \
    --enable-http --disable-ftp --disable-file --disable-ldap --disable-ldaps \
    --disable-rtsp --disable-dict --disable-telnet --disable-tftp --disable-pop3 \
    --disable-imap --disable-smb --disable-smtp --disable-gopher --disable-mqtt \
    --disable-websockets --disable-proxy --disable-cookies --disable-alt-svc \
    --disable-hsts --disable-doh --disable-netrc --disable-mime --disable-unix-sockets \
    --disable-http-auth --disable-crypto-auth --disable-ntlm --disable-ntlm-wb \
    --disable-tls-srp --disable-pthreads --enable-threaded-resolver \
    --without-zlib --without-brotli --without-zstd --without-libidn2 --without-winidn \
    --without-libpsl --without-libssh2 --without-libssh --without-librtmp \
    --without-nghttp2 --without-ngtcp2 --without-nghttp3 --without-quiche \
    --without-msh3 --without-hyper --without-libgsasl --without-gssapi
  make -j"${DVV_DEPS_JOBS:-2}" -C lib
  make -C lib install
  make -C include install
  for name in $("$triplet-objdump" -p "$prefix"/bin/libcurl*.dll | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    case "${name,,}" in
      kernel32.dll | msvcrt.dll | ws2_32.dll | bcrypt.dll | advapi32.dll | crypt32.dll | secur32.dll) ;;
      *) echo "curl: the DLL imports $name, which is not Windows'" >&2; return 1 ;;
    esac
  done
}
