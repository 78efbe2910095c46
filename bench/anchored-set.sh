# Sourced by the export benchmarks: makes (once) the 2 GiB installer set whose signed half
# chains to a bench root, trusts that root for this run only, checks that the reader does,
# and warms the cache. Needs top, build and work; sets src. $1 names the caller in messages.
src=$work/installers-anchored
[ -d "$src" ] || "$top/bench/make-installers.sh" "$src" large
anchor=$build/bin/trust/bench-root-$$.pem
mkdir -p "$build/bin/trust"
cp "$work/bench-root.pem" "$anchor"
trap 'rm -f "$anchor"' EXIT
trusted=$("$build/bin/readprops" "$src"/large02.exe | cut -f1)
[ "$trusted" = "Bench Signer" ] || { echo "$1: the signed installers are not trusted" >&2; exit 1; }
cat "$src"/* > /dev/null
