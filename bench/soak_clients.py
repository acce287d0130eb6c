#!/usr/bin/env python3
"""Hostile and ordinary clients against the key server on loopback, for bench/soak.sh.

Holds SILENT idle connections (reopening each one the server closes) while TOTAL connections of
mixed kinds run CONCURRENCY at a time, and a probe fetches the key every PROBE_EVERY seconds.
Prints the count of replies per kind and the probe's latency. Figures only.
"""
import asyncio
import os
import random
import socket
import struct
import sys
import time

HOST, PORT = "127.0.0.1", int(os.environ.get("PORT", "10999"))
KEY = os.environ["KEY"]
TOTAL = int(os.environ.get("TOTAL", "10000"))
SILENT = int(os.environ.get("SILENT", "1000"))
CONCURRENCY = int(os.environ.get("CONCURRENCY", "64"))
PROBE_EVERY = 0.1
CLIENT_TIMEOUT = 15.0
REQUEST = f"GET /{KEY} HTTP/1.1\r\nHost: x\r\n\r\n".encode()
HEAD = b"HTTP/1.1 200 OK\r\n"
# Each client from an address of its own on 127/8, as devices on a network would be: from one
# address, the server's share per address would turn most of them away.
SOURCES = {"silent": 1, "mixed": 2, "probe": 3}
counters = {kind: 0 for kind in SOURCES}


def connect(kind):
    n = counters[kind] = counters[kind] + 1
    source = f"127.{SOURCES[kind]}.{n // 250 % 250}.{n % 250 + 1}"
    return asyncio.open_connection(HOST, PORT, local_addr=(source, 0))


def count_replies(data):
    """Whole replies in data; a trailing partial reply counts as -1 (a truncated reply)."""
    count, at = 0, 0
    while at < len(data):
        if not data.startswith(HEAD, at):
            return -1
        end = data.find(b"\r\n\r\n", at)
        if end < 0:
            return -1
        length = int(data[data.find(b"Content-Length: ", at) + 16:data.find(b"\r\n", data.find(b"Content-Length: ", at))])
        at = end + 4 + length
        if at > len(data):
            return -1
        count += 1
    return count


async def read_all(reader):
    chunks = []
    while True:
        chunk = await reader.read(65536)
        if not chunk:
            return b"".join(chunks)
        chunks.append(chunk)


def reset(writer):
    sock = writer.get_extra_info("socket")
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    writer.transport.abort()


async def client(kind):
    """Runs one client of `kind`; returns the number of whole replies it got (-1: truncated)."""
    reader, writer = await connect("mixed")
    try:
        if kind == "valid GET":
            writer.write(REQUEST)
        elif kind == "garbage":
            writer.write(bytes(random.getrandbits(8) for _ in range(random.randint(1, 200))) + b"\r\n")
            await writer.drain()
            await asyncio.sleep(0.2)
            writer.close()
            return await read_all(reader) and 1 or 0
        elif kind == "GET in three pieces":
            for piece in (REQUEST[:3], REQUEST[3:12], REQUEST[12:]):
                writer.write(piece)
                await writer.drain()
                await asyncio.sleep(0.02)
        elif kind == "GET reset before reply":
            writer.write(REQUEST)
            await writer.drain()
            reset(writer)
            return 0
        elif kind == "half-close":
            writer.write(REQUEST)
            writer.write_eof()
        elif kind == "connect and close":
            writer.close()
            return 0
        await writer.drain()
        return count_replies(await asyncio.wait_for(read_all(reader), CLIENT_TIMEOUT))
    finally:
        if not writer.transport.is_closing():
            writer.close()


KINDS = ["valid GET", "garbage", "GET in three pieces", "GET reset before reply", "half-close",
         "connect and close"]
EXPECTED = {"valid GET": 1, "garbage": 0, "GET in three pieces": 1, "GET reset before reply": None,
            "half-close": 1, "connect and close": None}


async def hold_silent(stop, held):
    while not stop.is_set():
        try:
            reader, writer = await connect("silent")
        except OSError:
            await asyncio.sleep(0.05)
            continue
        held[0] += 1
        try:
            await read_all(reader)  # until the server closes or displaces it
        except OSError:
            pass
        held[0] -= 1
        writer.close()


async def probe(stop, latencies, failures):
    while not stop.is_set():
        started = time.monotonic()
        try:
            reader, writer = await connect("probe")
            writer.write(REQUEST)
            data = await asyncio.wait_for(read_all(reader), CLIENT_TIMEOUT)
            writer.close()
            if count_replies(data) == 1 and b"<B>1</B>" in data:
                latencies.append(time.monotonic() - started)
            else:
                failures[0] += 1
        except (OSError, asyncio.TimeoutError):
            failures[0] += 1
        await asyncio.sleep(PROBE_EVERY)


async def main():
    stop = asyncio.Event()
    held = [0]
    silent = [asyncio.create_task(hold_silent(stop, held)) for _ in range(SILENT)]
    await asyncio.sleep(2)
    print(f"silent connections held by the client: {held[0]}")
    latencies, failures = [], [0]
    prober = asyncio.create_task(probe(stop, latencies, failures))

    tally = {kind: {"ok": 0, "lost": 0, "double": 0, "truncated": 0, "refused": 0} for kind in KINDS}
    queue = [KINDS[i % len(KINDS)] for i in range(TOTAL)]
    random.shuffle(queue)
    gate = asyncio.Semaphore(CONCURRENCY)

    async def one(kind):
        async with gate:
            try:
                got = await client(kind)
            except (OSError, asyncio.TimeoutError):
                tally[kind]["refused"] += 1
                return
            want = EXPECTED[kind]
            if got < 0:
                tally[kind]["truncated"] += 1
            elif want is None or got == want:
                tally[kind]["ok"] += 1
            elif got < want:
                tally[kind]["lost"] += 1
            else:
                tally[kind]["double"] += 1

    started = time.monotonic()
    await asyncio.gather(*(one(kind) for kind in queue))
    elapsed = time.monotonic() - started
    stop.set()
    await prober
    for task in silent:
        task.cancel()
    await asyncio.gather(*silent, return_exceptions=True)

    print(f"{TOTAL} mixed connections in {elapsed:.1f} s ({TOTAL / elapsed:.0f}/s), "
          f"{SILENT} silent held throughout")
    print(f"{'kind':<24}{'as expected':>12}{'lost':>6}{'double':>8}{'truncated':>11}{'refused':>9}")
    for kind in KINDS:
        t = tally[kind]
        print(f"{kind:<24}{t['ok']:>12}{t['lost']:>6}{t['double']:>8}{t['truncated']:>11}{t['refused']:>9}")
    if latencies:
        latencies.sort()
        pick = lambda q: latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1000
        print(f"probe GET under pressure: {len(latencies)} answered, {failures[0]} failed; "
              f"latency p50 {pick(0.5):.1f} ms, p95 {pick(0.95):.1f} ms, max {latencies[-1] * 1000:.1f} ms")
    else:
        print(f"probe GET under pressure: none answered, {failures[0]} failed")


def program_cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


async def exhaust():
    """Holds HOLD connections against a program whose descriptor limit is far lower, measures
    its CPU meanwhile, then lets them go and times how soon a GET is answered again."""
    pid, hold, seconds = int(os.environ["PROGRAM"]), int(os.environ["HOLD"]), 3.0
    held = []
    for _ in range(hold):
        try:
            held.append(await asyncio.wait_for(asyncio.open_connection(HOST, PORT), 2))
        except (OSError, asyncio.TimeoutError):
            break
    cpu = program_cpu_seconds(pid)
    await asyncio.sleep(seconds)
    cpu = program_cpu_seconds(pid) - cpu
    print(f"descriptors exhausted: {len(held)} connections held; program CPU "
          f"{cpu:.2f} s in {seconds:.0f} s")
    for _, writer in held:
        writer.close()
    started = time.monotonic()
    while time.monotonic() - started < 30:
        try:
            reader, writer = await asyncio.open_connection(HOST, PORT)
            writer.write(REQUEST)
            data = await asyncio.wait_for(read_all(reader), 5)
            writer.close()
            if b"<B>1</B>" in data:
                print(f"served again {time.monotonic() - started:.2f} s after the holders left")
                return
        except (OSError, asyncio.TimeoutError):
            pass
        await asyncio.sleep(0.05)
    print("NOT served again within 30 s after the holders left")


if __name__ == "__main__":
    asyncio.run(exhaust() if os.environ.get("MODE") == "exhaust" else main())
    sys.stdout.flush()
