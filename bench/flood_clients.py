#!/usr/bin/env python3
"""Floods the key server while another address plays the phone, for bench/flood.sh.

FLOOD_PROCESSES flooders open connections from FLOOD_ADDRESSES (comma-separated, taken in turn) to
FLOOD_TARGET as fast as they can and keep the last FLOOD_KEEP of them open (silent), resetting the
oldest; optional holders (HOLDERS connections spread over HOLDER_ADDRESSES) send a non-GET line,
then a byte every 4 s, and reconnect when closed. The phone connects from PHONE_ADDRESS, waits
GAP seconds, sends its GET and reads the reply: TRIES times. It counts as served when the whole
key (KEY_FILE) arrives within 3 s. Prints the phone's successes and its latency (connect to reply,
the gap left out). MODE=waiting: WAITERS connections from WAITER_ADDRESSES wait on GETs for a key
whose reads are slow while the phone fetches it; MODE=memory: four clients pipeline GETs behind a
slow read and the program's (PROGRAM_PID) resident memory is printed; MODE=stuck: STUCK_PER_ADDRESS
clients from each of STUCK_ADDRESSES whose replies never leave (a receive buffer as small as the
system allows, four GETs behind one slow read, never a read, a byte every 5 s, back once closed)
while the phone fetches; MODE=pipeline: one such client pipelines a GET every 5 ms for 25 s, and
the key reads (counted in READ_LOG) and resident memory are printed. Figures only.
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
FLOOD_ADDRESSES = os.environ.get("FLOOD_ADDRESSES", "127.0.0.2").split(",")
FLOOD_TARGET = os.environ.get("FLOOD_TARGET", HOST)
# What each flood connection sends once connected (nothing: a silent flood).
FLOOD_SEND = os.environ.get("FLOOD_SEND", "").encode()
# The phone's waits between its completed handshake and its GET, in milliseconds.
GAPS = [float(gap) / 1000 for gap in os.environ.get("GAPS", "0,100").split(",")]
FLOOD_PROCESSES = int(os.environ.get("FLOOD_PROCESSES", "1"))
# Connections a second each flooder opens at most (0: as fast as it can).
FLOOD_RATE = float(os.environ.get("FLOOD_RATE", "0"))
KEY_TEXT = open(os.environ["KEY_FILE"], "rb").read() if "KEY_FILE" in os.environ else b"<B>1</B>"
DEADLINE = 3.0
PHONE_ADDRESS = os.environ.get("PHONE_ADDRESS", "127.0.0.3")
FLOOD_KEEP = int(os.environ.get("FLOOD_KEEP", "1000"))
TRIES = int(os.environ.get("TRIES", "20"))
RESET = struct.pack("ii", 1, 0)


def flood(stop, counter, first):
    """Opens connections as fast as it can (at most FLOOD_RATE a second); keeps the newest
    FLOOD_KEEP, resets the rest."""
    ring = []
    opened = 0
    turn = first
    family = socket.AF_INET6 if ":" in FLOOD_TARGET else socket.AF_INET
    batch_size = 256 if not FLOOD_RATE else max(1, int(FLOOD_RATE / 20))
    while not stop.is_set():
        batch, started = [], time.monotonic()
        for _ in range(batch_size):
            s = socket.socket(family, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, RESET)
            s.setblocking(False)
            address = FLOOD_ADDRESSES[turn % len(FLOOD_ADDRESSES)]
            turn += 1
            try:
                s.bind((address, 0))
                s.connect_ex((FLOOD_TARGET, PORT))
            except OSError:
                s.close()
                continue
            ring.append(s)
            if FLOOD_SEND:
                try:
                    s.send(FLOOD_SEND)  # on loopback the handshake is mostly over already
                except OSError:
                    batch.append(s)
            opened += 1
            if len(ring) > FLOOD_KEEP:
                ring.pop(0).close()
        if FLOOD_SEND:
            # By now the rest of the batch's handshakes are over.
            for s in batch:
                try:
                    s.send(FLOOD_SEND)
                except OSError:
                    pass
        with counter.get_lock():
            counter.value += opened
        opened = 0
        if FLOOD_RATE:
            time.sleep(max(0.0, batch_size / FLOOD_RATE - (time.monotonic() - started)))
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
    held = [0]

    def tick():
        report.value = held[0]
    run_clients(lambda done: [hold(addresses[i % len(addresses)], held, done)
                              for i in range(count)], stop, tick)


def phone(gap):
    """One fetch: (got the key, seconds from connect to the end of the reply less the gap)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind((PHONE_ADDRESS, 0))
    started = time.monotonic()
    data = b""
    try:
        s.settimeout(DEADLINE)
        s.connect((HOST, PORT))
        time.sleep(gap)
        s.sendall(REQUEST)
        while True:
            s.settimeout(max(0.001, DEADLINE + gap - (time.monotonic() - started)))
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    finally:
        s.close()
    seconds = time.monotonic() - started - gap
    return b"<B>1</B>" in data and KEY_TEXT in data and seconds <= DEADLINE, seconds


def figures(latencies):
    if not latencies:
        return "no latency (none served)"
    latencies = sorted(latencies)
    pick = lambda q: latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1000
    return (f"latency p50 {pick(0.5):.1f} ms, p95 {pick(0.95):.1f} ms, "
            f"max {latencies[-1] * 1000:.1f} ms")


def phone_series(gap=0.0):
    """TRIES fetches by the phone, 50 ms apart: how many were served, and their latencies."""
    ok, latencies = 0, []
    for _ in range(TRIES):
        served, seconds = phone(gap)
        ok += served
        if served:
            latencies.append(seconds)
        time.sleep(0.05)
    return ok, latencies


def start_worker(target, *args):
    """A process running target(*args), started."""
    worker = multiprocessing.Process(target=target, args=args)
    worker.start()
    return worker


def stop_workers(stop, workers):
    """Tells the workers to stop (the event `stop`), then kills any still running 10 s later."""
    stop.set()
    for worker in workers:
        worker.join(10)
        if worker.is_alive():
            worker.kill()


def run_clients(clients, stop, tick=None):
    """Runs the client coroutines, clients(done) -> coroutines that end once `done` (an
    asyncio.Event) is set, in one event loop until `stop` (a multiprocessing.Event) is set, calling
    tick() every 100 ms meanwhile; then ends them."""
    async def main():
        done = asyncio.Event()
        tasks = [asyncio.create_task(client) for client in clients(done)]
        while not stop.is_set():
            if tick:
                tick()
            await asyncio.sleep(0.1)
        done.set()
        for task in tasks:
            task.cancel()
        await asyncio.gather(*tasks, return_exceptions=True)
    asyncio.run(main())


def scenario(holder_count, holder_addresses):
    stop = multiprocessing.Event()
    flooded = multiprocessing.Value("q", 0)
    held = multiprocessing.Value("q", 0)
    workers = []
    if holder_count:
        workers.append(start_worker(holders, holder_count, holder_addresses, stop, held))
        time.sleep(5)  # the holders settle, and grow older than any grace
    for first in range(FLOOD_PROCESSES):
        workers.append(start_worker(flood, stop, flooded, first))
    time.sleep(1)
    for gap in GAPS:
        count_before, started = flooded.value, time.monotonic()
        ok, latencies = phone_series(gap)
        rate = (flooded.value - count_before) / (time.monotonic() - started)
        print(f"  wait {gap * 1000:>3.0f} ms: phone served {ok}/{TRIES}; {figures(latencies)}; "
              f"flood {rate:,.0f} connections/s; holders kept 4 s or more: {held.value}")
    stop_workers(stop, workers)


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


async def wait_on_key(address, stop):
    """GETs the slow key and waits for it, again and again."""
    while not stop.is_set():
        try:
            reader, writer = await asyncio.open_connection(HOST, PORT, local_addr=(address, 0))
            writer.write(REQUEST)
            await writer.drain()
            while await reader.read(65536):
                pass
            writer.close()
        except OSError:
            await asyncio.sleep(0.05)


def waiters(count, addresses, stop):
    run_clients(lambda done: [wait_on_key(addresses[i % len(addresses)], done)
                              for i in range(count)], stop)


def waiting():
    addresses = os.environ["WAITER_ADDRESSES"].split(",")
    count = int(os.environ.get("WAITERS", "512"))
    stop = multiprocessing.Event()
    worker = start_worker(waiters, count, addresses, stop)
    time.sleep(3)
    ok, latencies = phone_series()
    print(f"  {count} waiting from {len(addresses)} addresses: phone served {ok}/{TRIES}; "
          f"{figures(latencies)}")
    stop_workers(stop, [worker])


def narrow_socket(address=None):
    """A non-blocking client socket whose receive buffer is as small as the system allows."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1)
    if address:
        s.bind((address, 0))
    s.setblocking(False)
    return s


async def never_reads(address, stop, gets_every=None, until=None):
    """Four GETs 50 ms apart (behind one slow read), then never a read: a GET every `gets_every`
    seconds until `until` (one connection), or a byte every 5 s (connects again once closed)."""
    loop = asyncio.get_running_loop()
    first = True
    while not stop.is_set() and (first or until is None):
        first = False
        s = narrow_socket(address)
        try:
            await loop.sock_connect(s, (HOST, PORT))
            for _ in range(4):
                await loop.sock_sendall(s, REQUEST)
                await asyncio.sleep(0.05)
            while not stop.is_set() and (until is None or time.monotonic() < until):
                if gets_every:
                    await asyncio.sleep(gets_every)
                    await loop.sock_sendall(s, REQUEST)
                else:
                    await asyncio.sleep(5)
                    await loop.sock_sendall(s, b"x")
        except OSError:
            await asyncio.sleep(0.05)
        finally:
            s.close()


def stuck_clients(addresses, per_address, stop):
    run_clients(lambda done: [never_reads(address, done)
                              for address in addresses for _ in range(per_address)], stop)


def server_connections():
    """Connections the server holds open now, as the system counts them."""
    import subprocess
    listing = subprocess.run(["ss", "-Htn", "state", "established", f"sport = :{PORT}"],
                             capture_output=True, text=True).stdout
    return len(listing.splitlines())


def stuck():
    """STUCK_GROUPS "addresses x connections,...": groups of clients whose replies never leave,
    each group from addresses of its own taken in turn from STUCK_ADDRESSES."""
    addresses = os.environ["STUCK_ADDRESSES"].split(",")
    groups = [tuple(int(n) for n in group.split("x"))
              for group in os.environ["STUCK_GROUPS"].split(",")]
    stop = multiprocessing.Event()
    workers, first = [], 0
    for count, per_address in groups:
        workers.append(start_worker(stuck_clients, addresses[first:first + count], per_address,
                                    stop))
        first += count
    time.sleep(8)  # the replies have stopped moving for longer than a few seconds
    held = server_connections()
    ok, latencies = phone_series()
    shown = " + ".join(f"{count} x {per_address}" for count, per_address in groups)
    print(f"  stuck replies from {shown} (addresses x connections), {held} open at the start: "
          f"phone served {ok}/{TRIES}; {figures(latencies)}")
    stop_workers(stop, workers)


def reads_logged():
    try:
        with open(os.environ["READ_LOG"]) as log:
            return sum(1 for _ in log)
    except OSError:
        return 0


def pipeline():
    """One client that never reads pipelines a GET every 5 ms for 25 s behind a slow read."""
    async def main():
        stop, end = asyncio.Event(), time.monotonic() + 25
        task = asyncio.create_task(never_reads(None, stop, 0.005, end))
        await asyncio.sleep(10)
        at10 = resident_kib(), reads_logged()
        await task  # early, once the server has given the connection up
        await asyncio.sleep(max(0.0, end - time.monotonic()))
        return at10, (resident_kib(), reads_logged())

    before = resident_kib(), reads_logged()
    (mem10, reads10), (mem25, reads25) = asyncio.run(main())
    print(f"  one client that never reads, a GET every 5 ms for 25 s on one connection: key read "
          f"{reads10 - before[1]} times by 10 s, {reads25 - before[1]} by 25 s; resident memory "
          f"{before[0] / 1024:.0f} MB before, {mem10 / 1024:.0f} MB at 10 s, "
          f"{mem25 / 1024:.0f} MB at 25 s")


def server_sockets():
    """The server's side of each client connection, as the system lists it now:
    {(peer address, peer port): (state, bytes unsent)}, the program's own and orphans alike."""
    import subprocess
    listing = subprocess.run(["ss", "-Htan", f"sport = :{PORT}"], capture_output=True,
                             text=True).stdout
    result = {}
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) < 5 or fields[0] == "LISTEN":
            continue
        address, port = fields[4].rsplit(":", 1)
        address = address.strip("[]").removeprefix("::ffff:")
        result[(address, int(port))] = (fields[0], int(fields[2]))
    return result


def orphans_unsent():
    """Sockets the program has closed that still hold unsent bytes: (how many, KiB held)."""
    held = [unsent for state, unsent in server_sockets().values()
            if state in ("FIN-WAIT-1", "CLOSING", "LAST-ACK") and unsent > 0]
    return len(held), sum(held) / 1024


def phone_in_background(delay):
    """The phone's series, started after `delay` seconds on a thread; join() then read .result."""
    import threading

    class Phone(threading.Thread):
        result = (0, [])

        def run(self):
            time.sleep(delay)
            self.result = phone_series()
    phone_thread = Phone()
    phone_thread.start()
    return phone_thread


def seconds_figures(values):
    if not values:
        return "none"
    values = sorted(values)
    return (f"min {values[0]:.1f} s, median {values[len(values) // 2]:.1f} s, "
            f"max {values[-1]:.1f} s")


async def read_slowly(address, rate, stop, lived):
    """A GET every 0.5 s, and at most rate / 2 bytes read every 0.5 s through a receive buffer
    as small as the system allows; connects again once closed. Appends to `lived` how long each of its connections lasted."""
    while not stop.is_set():
        s = narrow_socket(address)
        started = time.monotonic()
        try:
            await asyncio.get_running_loop().sock_connect(s, (HOST, PORT))
            while not stop.is_set():
                try:
                    s.send(REQUEST)
                except BlockingIOError:
                    pass
                await asyncio.sleep(0.5)
                try:
                    if not s.recv(max(1, rate // 2)):
                        break
                except BlockingIOError:
                    pass
        except OSError:
            await asyncio.sleep(0.05)
        finally:
            s.close()
            if not stop.is_set():
                lived.append(time.monotonic() - started)


def slow_readers():
    """SLOW_READERS "addresses x connections,..." (from SLOW_ADDRESSES, taken in turn), each
    connection fetching the key again and again while reading it at READ_RATE bytes a second."""
    addresses = os.environ["SLOW_ADDRESSES"].split(",")
    rate = int(os.environ["READ_RATE"])
    groups = [tuple(int(n) for n in group.split("x"))
              for group in os.environ["SLOW_READERS"].split(",")]
    clients, first = [], 0
    for count, per_address in groups:
        clients += [address for address in addresses[first:first + count]
                    for _ in range(per_address)]
        first += count
    stop = multiprocessing.Event()
    ended = multiprocessing.Queue()

    def run(chunk):
        lived = []
        run_clients(lambda done: [read_slowly(address, rate, done, lived) for address in chunk],
                    stop)
        ended.put(len(lived))
    workers = [start_worker(run, clients[i::4]) for i in range(4)]
    time.sleep(8)
    held = server_connections()
    ok, latencies = phone_series()
    held_after = server_connections()
    stop_workers(stop, [])
    closed = sum(ended.get(timeout=15) for _ in workers)
    stop_workers(stop, workers)
    shown = " + ".join(f"{count} x {per_address}" for count, per_address in groups)
    print(f"  {len(clients)} slow readers ({shown}) at {rate} bytes/s: phone served {ok}/{TRIES}; "
          f"{figures(latencies)}; open {held} before the phone, {held_after} after; "
          f"connections the server ended: {closed}")


def nudge():
    """NUDGERS clients that never read, spread over NUDGE_ADDRESSES: a GET for the key, then a
    non-GET line every 5 s. How long the program keeps each (from its connect to the program's
    closing it), watched for NUDGE_SECONDS."""
    addresses = os.environ["NUDGE_ADDRESSES"].split(",")
    count = int(os.environ.get("NUDGERS", "200"))
    limit = float(os.environ.get("NUDGE_SECONDS", "60"))
    clients = {}
    for i in range(count):
        s = narrow_socket(addresses[i % len(addresses)])
        s.setblocking(True)
        s.settimeout(3)
        try:
            s.connect((HOST, PORT))
            s.sendall(REQUEST)
        except OSError:
            s.close()
            continue
        s.setblocking(False)
        clients[s.getsockname()[:2]] = (s, time.monotonic())
    phone_thread = phone_in_background(6)
    kept, started, nudged = {}, time.monotonic(), time.monotonic()
    while time.monotonic() - started < limit and len(kept) < len(clients):
        time.sleep(0.25)
        listing = server_sockets()
        now = time.monotonic()
        for peer, (s, opened) in clients.items():
            if peer not in kept and listing.get(peer, ("gone",))[0] not in ("ESTAB", "CLOSE-WAIT"):
                kept[peer] = now - opened
        if now - nudged >= 5:
            nudged = now
            for peer, (s, _) in clients.items():
                if peer not in kept:
                    try:
                        s.send(b"X\r\n")
                    except OSError:
                        pass
    phone_thread.join()
    ok, latencies = phone_thread.result
    for s, _ in clients.values():
        s.close()
    print(f"  {len(clients)} never-readers nudging every 5 s: {len(kept)} closed by the program, "
          f"kept {seconds_figures(list(kept.values()))}; {len(clients) - len(kept)} still open "
          f"at {limit:.0f} s; phone served {ok}/{TRIES}; {figures(latencies)}")


def orphans():
    """Never-readers (a GET for the key, then silence, their ends kept) opened at ORPHAN_RATE a
    second for ORPHAN_SECONDS from ORPHAN_ADDRESSES: the server's closed sockets that still hold
    unsent bytes at the end of the flood and 15 and 25 s later."""
    addresses = os.environ["ORPHAN_ADDRESSES"].split(",")
    rate = int(os.environ.get("ORPHAN_RATE", "200"))
    seconds = float(os.environ.get("ORPHAN_SECONDS", "10"))
    kept, pending, turn = [], [], 0
    phone_thread = phone_in_background(3)
    started = time.monotonic()
    while time.monotonic() - started < seconds:
        for s in pending:
            try:
                s.send(REQUEST)
            except OSError:
                pass
        pending = []
        for _ in range(max(1, rate // 20)):
            s = narrow_socket(addresses[turn % len(addresses)])
            turn += 1
            s.connect_ex((HOST, PORT))
            kept.append(s)
            pending.append(s)
        time.sleep(0.05)
    counts = [orphans_unsent()]
    time.sleep(15)
    counts.append(orphans_unsent())
    time.sleep(10)
    counts.append(orphans_unsent())
    phone_thread.join()
    ok, latencies = phone_thread.result
    for s in kept:
        s.close()
    shown = ", ".join(f"{n} ({kib:,.0f} KiB)" for n, kib in counts)
    print(f"  {len(kept)} never-readers in {seconds:.0f} s: orphans holding unsent bytes at the "
          f"end, 15 s and 25 s later: {shown}; phone meanwhile served {ok}/{TRIES}; "
          f"{figures(latencies)}")


LATE_HEADER = float(os.environ.get("LATE_HEADER_MS", "300")) / 1000
LATE_READ = float(os.environ.get("LATE_READ_MS", "200")) / 1000


def linger_fetch(buffer):
    """One fetch whose header comes LATE_HEADER_MS after its request line, read LATE_READ_MS
    later through a receive buffer of `buffer` bytes: whether the whole key arrived within 3 s."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, buffer)
    s.bind((PHONE_ADDRESS, 0))
    started = time.monotonic()
    data = b""
    try:
        s.settimeout(DEADLINE)
        s.connect((HOST, PORT))
        s.sendall(f"GET /{KEY} HTTP/1.1\r\n".encode())
        time.sleep(LATE_HEADER)
        s.sendall(b"Host: x\r\n\r\n")
        time.sleep(LATE_READ)
        while True:
            s.settimeout(max(0.001, DEADLINE - (time.monotonic() - started)))
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    finally:
        s.close()
    return b"<B>1</B>" in data and KEY_TEXT in data and time.monotonic() - started <= DEADLINE


def linger():
    """Replies that linger (the header late, read later still) through receive buffers of
    LINGER_BUFFERS bytes, beside the flood of FLOOD_ADDRESSES unless FLOOD_PROCESSES is 0."""
    stop = multiprocessing.Event()
    flooded = multiprocessing.Value("q", 0)
    workers = [start_worker(flood, stop, flooded, first) for first in range(FLOOD_PROCESSES)]
    time.sleep(1 if workers else 0)
    for buffer in (int(b) for b in os.environ.get("LINGER_BUFFERS", "4096,8192").split(",")):
        count_before, started = flooded.value, time.monotonic()
        whole = 0
        for _ in range(TRIES):
            whole += linger_fetch(buffer)
            time.sleep(0.05)
        rate = (flooded.value - count_before) / (time.monotonic() - started)
        print(f"  receive buffer {buffer} bytes: whole replies {whole}/{TRIES}; flood "
              f"{rate:,.0f} connections/s from {len(FLOOD_ADDRESSES) if workers else 0} addresses")
    stop_workers(stop, workers)


def descriptors(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return 0


def idle_hold():
    """IDLE silent connections spread over IDLE_ADDRESSES, each connecting again once closed,
    for IDLE_SECONDS against a program (PROGRAM_PID) short of descriptors: whether it lives, its
    most descriptors, and the phone during the flood and once it has ended."""
    addresses = os.environ["IDLE_ADDRESSES"].split(",")
    count = int(os.environ.get("IDLE", "300"))
    seconds = float(os.environ.get("IDLE_SECONDS", "15"))
    pid = os.environ["PROGRAM_PID"]

    async def idle(address, done):
        while not done.is_set():
            try:
                reader, writer = await asyncio.open_connection(HOST, PORT,
                                                               local_addr=(address, 0))
            except OSError:
                await asyncio.sleep(0.1)
                continue
            try:
                await reader.read(1)
            except OSError:
                pass
            writer.transport.abort()
            await asyncio.sleep(0.1)

    stop = multiprocessing.Event()
    worker = start_worker(run_clients, lambda done: [idle(addresses[i % len(addresses)], done)
                                                     for i in range(count)], stop)
    phone_thread = phone_in_background(3)
    started, most, alive = time.monotonic(), 0, True
    while time.monotonic() - started < seconds or phone_thread.is_alive():
        time.sleep(0.2)
        most = max(most, descriptors(pid))
        alive = alive and os.path.exists(f"/proc/{pid}/status")
    stop_workers(stop, [worker])
    during = phone_thread.result
    time.sleep(2)
    after = phone_series() if os.path.exists(f"/proc/{pid}/status") else (0, [])
    alive = alive and os.path.exists(f"/proc/{pid}/status")
    print(f"  {count} idle connections from {len(addresses)} addresses for {seconds:.0f} s: "
          f"program {'alive' if alive else 'DIED'}, at most {most} descriptors; phone served "
          f"{during[0]}/{TRIES} during, {after[0]}/{TRIES} after; {figures(after[1])}")


def resident_kib():
    with open(f"/proc/{os.environ['PROGRAM_PID']}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def memory():
    """Four clients pipeline GETs behind a read that stalls for 25 s, for 20 s, then wait
    without reading; the read ends meanwhile."""
    async def pipeline(deadline, release):
        try:
            reader, writer = await asyncio.open_connection(HOST, PORT)
            while time.monotonic() < deadline and not reader.at_eof():
                writer.write(REQUEST)
                await asyncio.sleep(0.001)
            await release.wait()
            writer.transport.abort()
        except OSError:
            pass

    async def main():
        started = time.monotonic()
        release = asyncio.Event()
        tasks = [asyncio.create_task(pipeline(started + 20, release)) for _ in range(4)]
        await asyncio.sleep(20)
        during = resident_kib()
        await asyncio.sleep(10)
        after = resident_kib()
        release.set()
        await asyncio.gather(*tasks)
        return during, after

    before = resident_kib()
    during, after = asyncio.run(main())
    print(f"  resident memory, 4 clients pipelining GETs for 20 s behind a read that stalls 25 s: "
          f"{before / 1024:.0f} MB before, {during / 1024:.0f} MB at 20 s, "
          f"{after / 1024:.0f} MB once the read has ended")


if __name__ == "__main__":
    mode = os.environ.get("MODE")
    if mode == "slow":
        slow_read()
    elif mode == "waiting":
        waiting()
    elif mode == "memory":
        memory()
    elif mode == "stuck":
        stuck()
    elif mode == "pipeline":
        pipeline()
    elif mode == "slowreaders":
        slow_readers()
    elif mode == "nudge":
        nudge()
    elif mode == "orphans":
        orphans()
    elif mode == "linger":
        linger()
    elif mode == "idle":
        idle_hold()
    else:
        holder_addresses = os.environ.get("HOLDER_ADDRESSES", FLOOD_ADDRESSES[0]).split(",")
        holders_count = int(os.environ.get("HOLDERS", "0"))
        print(f"flood from {len(FLOOD_ADDRESSES)} address(es) ({FLOOD_ADDRESSES[0]}...) to "
              f"{FLOOD_TARGET}, {FLOOD_PROCESSES} flooder(s), phone from {PHONE_ADDRESS}, "
              f"{TRIES} tries each" + (f", {holders_count} holders" if holders_count else ""))
        scenario(holders_count, holder_addresses)
    sys.stdout.flush()
