#!/usr/bin/env python3
"""A TCP relay that delays every chunk by a fixed time in each direction, to give loopback
benchmarks the round-trip time of a real network (the kernel here has no netem).

    delay-relay.py LISTEN_PORT TARGET_PORT DELAY_MS

Prints "ready" when it listens on 127.0.0.1:LISTEN_PORT.
"""
import asyncio
import sys

listen_port, target_port, delay_ms = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
delay = delay_ms / 1000.0


async def pipe(reader, writer):
    queue = asyncio.Queue()

    async def sender():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - asyncio.get_running_loop().time()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()

    task = asyncio.create_task(sender())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((asyncio.get_running_loop().time() + delay, data or None))
            if not data:
                break
    finally:
        await task


async def handle(client_reader, client_writer):
    server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
    await asyncio.gather(pipe(client_reader, server_writer), pipe(server_reader, client_writer),
                         return_exceptions=True)


async def main():
    server = await asyncio.start_server(handle, "127.0.0.1", listen_port)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


asyncio.run(main())
