#!/usr/bin/env python3
"""One address floods the key server while another plays the phone, for bench/flood.sh.

The flooder opens connections from FLOOD_ADDRESS as fast as it can and keeps the last FLOOD_KEEP
of them open (silent), resetting the oldest; optional holders (HOLDERS connections spread over
HOLDER_ADDRESSES) send a non-GET line, then a byte every 4 s, and reconnect when closed. The phone
connects from PHONE_ADDRESS, waits GAP seconds, sends its GET and reads the reply: TRIES times.
Prints the phone's successes and its latency (connect to reply, the gap left out). Figures only.
"""
import asyncio
import multiprocessing
import os
import socket
import struct
import sys
import time

HOST, PORT = "127.0.0.1", int(os.environ.get("PORT", "10999"))
KEY = os.environ["KEY"]
REQUEST = f"GET /{KEY} HTTP/1.1\r\nHost: x\r\n\r\n".encode()
FLOOD_ADDRESS = os.environ.get("FLOOD_ADDRESS", "127.0.0.2")
PHONE_ADDRESS = os.environ.get("PHONE_ADDRESS", "127.0.0.3")
FLOOD_KEEP = int(os.environ.get("FLOOD_KEEP", "1000"))
TRIES = int(os.environ.get("TRIES", "20"))
RESET = struct.pack("ii", 1, 0)


def flood(stop, counter):
    """Opens connections as fast as it can; keeps the newest FLOOD_KEEP, resets the rest."""
    ring = []
    opened = 0
    while not stop.is_set():
        for _ in range(256):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, RESET)
            s.setblocking(False)
            try:
                s.bind((FLOOD_ADDRESS, 0))
                s.connect_ex((HOST, PORT))
            except OSError:
                s.close()
                continue
            ring.append(s)
            opened += 1
            if len(ring) > FLOOD_KEEP:
                ring.pop(0).close()
        counter.value = opened
    for s in ring:
        s.close()


async def hold(address, held, stop):
    while not stop.is_set():
        try:
            reader, writer = await asyncio.open_connection(HOST, PORT, local_addr=(address, 0))
            writer.write(b"OPTIONS * HTTP/1.1\r\n")
            await writer.drain()
        except OSError:
            await asyncio.sleep(0.05)
            continue
        kept = False  # counted once it has lasted 4 s
        try:
            while not stop.is_set():
                try:
                    if not await asyncio.wait_for(reader.read(1), 4.0):
                        break  # closed or displaced
                except asyncio.TimeoutError:
                    if not kept:
                        kept = True
                        held[0] += 1
                    writer.write(b"x")
                    await writer.drain()
        except OSError:
            pass
        if kept:
            held[0] -= 1
        writer.transport.abort()


def holders(count, addresses, stop, report):
    async def main():
        held = [0]
        done = asyncio.Event()
        tasks = [asyncio.create_task(hold(addresses[i % len(addresses)], held, done))
                 for i in range(count)]
        while not stop.is_set():
            report.value = held[0]
            await asyncio.sleep(0.1)
        done.set()
        for task in tasks:
            task.cancel()
        await asyncio.gather(*tasks, return_exceptions=True)
    asyncio.run(main())


def phone(gap):
    """One fetch: (got the key, seconds from connect to the end of the reply less the gap)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(15)
    s.bind((PHONE_ADDRESS, 0))
    started = time.monotonic()
    data = b""
    try:
        s.connect((HOST, PORT))
        time.sleep(gap)
        s.sendall(REQUEST)
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    finally:
        s.close()
    return b"<B>1</B>" in data, time.monotonic() - started - gap


def figures(latencies):
    if not latencies:
        return "no latency (none served)"
    latencies = sorted(latencies)
    pick = lambda q: latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1000
    return (f"latency p50 {pick(0.5):.1f} ms, p95 {pick(0.95):.1f} ms, "
            f"max {latencies[-1] * 1000:.1f} ms")


def scenario(holder_count, holder_addresses):
    stop = multiprocessing.Event()
    flooded = multiprocessing.Value("q", 0)
    held = multiprocessing.Value("q", 0)
    workers = []
    if holder_count:
        workers.append(multiprocessing.Process(
            target=holders, args=(holder_count, holder_addresses, stop, held)))
        workers[-1].start()
        time.sleep(5)  # the holders settle, and grow older than any grace
    workers.append(multiprocessing.Process(target=flood, args=(stop, flooded)))
    workers[-1].start()
    time.sleep(1)
    for gap in (0.0, 0.1):
        ok, latencies = 0, []
        count_before, started = flooded.value, time.monotonic()
        for _ in range(TRIES):
            served, seconds = phone(gap)
            ok += served
            if served:
                latencies.append(seconds)
            time.sleep(0.05)
        rate = (flooded.value - count_before) / (time.monotonic() - started)
        print(f"  gap {gap * 1000:>3.0f} ms: phone served {ok}/{TRIES}; {figures(latencies)}; "
              f"flood {rate:,.0f} connections/s; holders kept 4 s or more: {held.value}")
    stop.set()
    for worker in workers:
        worker.join(10)
        if worker.is_alive():
            worker.kill()


def slow_read():
    """The selected key's reads are slow: how long its GET takes, and how long an unrelated
    client waits meanwhile."""
    results = {}

    def fetch(name, path):
        s = socket.create_connection((HOST, PORT), timeout=60)
        started = time.monotonic()
        s.sendall(f"GET /{path} HTTP/1.1\r\n\r\n".encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
        results[name] = (time.monotonic() - started, data)
        s.close()

    import threading
    slow = threading.Thread(target=fetch, args=("slow", KEY))
    slow.start()
    time.sleep(0.5)
    fetch("other", "other.key")
    slow.join()
    print(f"  slow key GET: {results['slow'][0]:.2f} s "
          f"({'key' if b'<B>1</B>' in results['slow'][1] else 'no key'}); "
          f"an unrelated client meanwhile: {results['other'][0] * 1000:.1f} ms")


if __name__ == "__main__":
    if os.environ.get("MODE") == "slow":
        slow_read()
    else:
        holder_addresses = os.environ.get("HOLDER_ADDRESSES", FLOOD_ADDRESS).split(",")
        print(f"flood from {FLOOD_ADDRESS}, phone from {PHONE_ADDRESS}, {TRIES} tries each")
        print("without holders:")
        scenario(0, holder_addresses)
        print(f"with 511 holders from {','.join(holder_addresses)}:")
        scenario(511, holder_addresses)
    sys.stdout.flush()
