#!/usr/bin/env python3
"""Reference POP3 client for the receive benchmark: Python's poplib scanning every header with
TOP n 0, over THREADS connections that take message numbers from a shared counter (as the
download engine's workers do).

    reference-threads.py HOST PORT USER PASSWORD THREADS
"""
import itertools
import poplib
import sys
import threading
import time

host, port, user, password, threads = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5])
start = time.monotonic()
counter = itertools.count(1)
lock = threading.Lock()
pop = poplib.POP3(host, port, timeout=60)
pop.user(user)
pop.pass_(password)
total = pop.stat()[0]
pop.quit()
done = [0] * threads


def worker(index):
    session = poplib.POP3(host, port, timeout=60)
    session.user(user)
    session.pass_(password)
    while True:
        with lock:
            n = next(counter)
        if n > total:
            break
        session.top(n, 0)
        done[index] += 1
    session.quit()


workers = [threading.Thread(target=worker, args=(i,)) for i in range(threads)]
for w in workers:
    w.start()
for w in workers:
    w.join()
seconds = time.monotonic() - start
count = sum(done)
print(f"python poplib (TOP n 0, {threads} connection(s)): {count} headers in {seconds:.3f} s, {count / seconds:.0f} headers/s")
