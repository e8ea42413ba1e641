#!/bin/sh
# Constant-time check of AES, GHASH, SHA-1/SHA-256, HMAC, ChaCha20 and
# Poly1305 (AVX2 or portable): runs the probe
# under valgrind memcheck with its secrets marked undefined, once on the
# path the CPU (as valgrind presents it) selects and once with the portable
# path forced. Any memcheck report (a branch or a memory index depending on
# a secret) fails the check.
# usage: scripts/ct_check.sh [build/native/tests/crypto/crypto_ct_probe]
set -eu
probe=${1:-build/native/tests/crypto/crypto_ct_probe}
status=0
# The probe's control case must be caught, or the check proves nothing.
if valgrind --tool=memcheck --error-exitcode=99 -q "$probe" --control 2>/dev/null; then
  echo "control case (secret-indexed table, secret branch) was not reported: check is broken"
  exit 1
fi
echo "control case reported as expected"
for portable in 0 1; do
  echo "== QV_CRYPTO_PORTABLE=$portable"
  if ! QV_CRYPTO_PORTABLE=$portable valgrind --tool=memcheck --error-exitcode=99 --track-origins=yes -q "$probe"; then
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "constant-time check: no secret-dependent branch or index reported"
exit "$status"
