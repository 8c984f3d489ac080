#!/bin/sh
# Makes the self-signed certificate NAME.pem (key, then certificate) in the
# data directory.   usage: makecert.sh NAME
name=${1:?usage: makecert.sh NAME}
out=$NIMBRA_DATA/$name.pem
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
# EC P-256: made in milliseconds, where RSA would slow every first start.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 825 \
	-subj "/CN=$name.nimbra.sandbox" -keyout "$work/key" -out "$work/cert" 2>"$work/err" || {
	cat "$work/err" >&2
	exit 1
}
umask 077
cat "$work/key" "$work/cert" >"$out.new" && mv -f "$out.new" "$out" || exit 1
echo "$name: certificate $out made"
