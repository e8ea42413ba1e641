#!/usr/bin/env python3
"""Runs crypto_bench with and without OpenSSL's hardware AES/SHA paths and
prints throughput ratios (ours / OpenSSL) as a Markdown table.

usage: ratios.py path/to/crypto_bench [extra benchmark args]
"""
import json
import os
import subprocess
import sys

# AES-NI (CPUID.1:ECX bit 25 = bit 57) and PCLMULQDQ (CPUID.1:ECX bit 1 = bit 33)
# in the first word; the SHA extensions (CPUID.7.0:EBX bit 29) in the second.
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


def main():
    binary, extra = sys.argv[1], sys.argv[2:]
    default = run(binary, extra, None)
    plain = run(binary, extra + ["--benchmark_filter=OpenSsl/(Aes|Sha|Hmac|TlsPrf|Tls12Prf)"], NO_HARDWARE)
    print("| operation | ours | OpenSSL | ratio | OpenSSL without AES-NI/SHA-NI | ratio |")
    print("|---|---|---|---|---|---|")
    for name in [n for n in default if n.startswith("Ours/")]:
        op = name.split("/", 1)[1]
        ours, theirs = default[name], default.get("OpenSsl/" + op)
        soft = plain.get("OpenSsl/" + op)
        def fmt(ns):
            return f"{ns / 1000:.1f} us" if ns >= 1000 else f"{ns:.0f} ns"
        if theirs is None:  # no OpenSSL counterpart
            print("| " + " | ".join([op, fmt(ours), "", "", "", ""]) + " |")
            continue
        row = [op, fmt(ours), fmt(theirs), f"{theirs / ours:.2f}"]
        row += [fmt(soft), f"{soft / ours:.2f}"] if soft else ["", ""]
        print("| " + " | ".join(row) + " |")
    print("\nratio = OpenSSL time / our time (throughput ours / OpenSSL; for RSA, 1/ratio is our slowdown).")


if __name__ == "__main__":
    main()
