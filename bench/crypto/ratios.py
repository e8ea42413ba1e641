#!/usr/bin/env python3
"""Runs crypto_bench at OpenSSL's defaults and again with OpenSSL's hardware
paths masked, and prints throughput ratios (ours / OpenSSL) as a Markdown
table. Our hardware rows (Ours/...) and portable rows (OursPortable/...,
forced through the test hook) come from the same process as the OpenSSL row
they are compared with.

usage: ratios.py path/to/crypto_bench [extra benchmark args]
"""
import json
import os
import subprocess
import sys

# OPENSSL_ia32cap: the first word is CPUID.1 EDX (bits 0-31) and ECX (bits
# 32-63), the second CPUID.7.0 EBX/ECX. A mask without its ":..." part would
# zero the whole second word (AVX2, SHA-NI, ...), so each one names it.
# AES-NI (ECX bit 25 = bit 57) and PCLMULQDQ (ECX bit 1 = bit 33) off; SSSE3,
# AVX2 and SHA-NI kept: OpenSSL runs vpaes/bsaes and its 4-bit GHASH, what a
# CPU without AES-NI gets.
NO_AESNI = "~0x200000200000000:~0"
# As NO_AESNI, and the SHA extensions (CPUID.7.0 EBX bit 29) off too.
NO_HARDWARE = "~0x200000200000000:~0x20000000"


def run(binary, extra, env_cap):
    env = dict(os.environ)
    if env_cap:
        env["OPENSSL_ia32cap"] = env_cap
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_repetitions=5",
                          "--benchmark_report_aggregates_only=true"] + extra,
                         env=env, check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            times[b["run_name"]] = b["cpu_time"]  # ns
    return times


def fmt(ns):
    if ns is None:
        return ""
    return f"{ns / 1000:.1f} us" if ns >= 1000 else f"{ns:.0f} ns"


def ratio(theirs, ours):
    return f"{theirs / ours:.2f}" if theirs and ours else ""


def main():
    binary, extra = sys.argv[1], sys.argv[2:]
    default = run(binary, extra, None)
    aes = run(binary, extra + ["--benchmark_filter=(OpenSsl|OursPortable)/Aes"], NO_AESNI)
    plain = run(binary, extra + ["--benchmark_filter=(OpenSsl|OursPortable)/(Sha|Hmac|TlsPrf|Tls12Prf)"],
                NO_HARDWARE)
    print("| operation | ours | OpenSSL | ratio | ours portable | OpenSSL masked | mask | ratio |")
    print("|---|---|---|---|---|---|---|---|")
    for name in [n for n in default if n.startswith("Ours/")]:
        op = name.split("/", 1)[1]
        masked_run, mask = (aes, "NO_AESNI") if op.startswith("Aes") else (plain, "NO_HARDWARE")
        ours, theirs = default[name], default.get("OpenSsl/" + op)
        portable = masked_run.get("OursPortable/" + op)
        soft = masked_run.get("OpenSsl/" + op)
        row = [op, fmt(ours), fmt(theirs), ratio(theirs, ours), fmt(portable), fmt(soft),
               mask if soft else "", ratio(soft, portable)]
        print("| " + " | ".join(row) + " |")
    print(f"\nratio = OpenSSL time / our time (throughput ours / OpenSSL; for RSA, 1/ratio is our slowdown)."
          f" NO_AESNI = OPENSSL_ia32cap={NO_AESNI}, NO_HARDWARE = OPENSSL_ia32cap={NO_HARDWARE}.")


if __name__ == "__main__":
    main()
