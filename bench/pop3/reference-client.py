#!/usr/bin/env python3
"""Reference POP3 client for the benchmark: Python's poplib fetching every header over one
connection, either with TOP n 0 alone or with the same NOOP, LIST n, TOP n 0 per message as
TPOP3Client::Fetch.

    reference-client.py HOST PORT USER PASSWORD COUNT top|fetch
"""
import poplib
import sys
import time

host, port, user, password, count, mode = sys.argv[1:7]
count = int(count)
start = time.monotonic()
pop = poplib.POP3(host, int(port), timeout=60)
pop.user(user)
pop.pass_(password)
count = min(count, pop.stat()[0])
lines = 0
for n in range(1, count + 1):
    if mode == "fetch":
        pop.noop()
        pop.list(n)
    lines += len([line for line in pop.top(n, 0)[1] if line])
pop.quit()
seconds = time.monotonic() - start
label = "TOP n 0" if mode == "top" else "NOOP, LIST n, TOP n 0"
print(f"python poplib ({label}): {count} headers ({lines} lines) in {seconds:.3f} s, {count / seconds:.0f} headers/s")
