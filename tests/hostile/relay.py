#!/usr/bin/env python3
"""A relay in front of a real SMB server that misbehaves at one chosen moment.

    relay.py LISTEN_ADDR UPSTREAM_ADDR MODE TRIGGER

It reads the client's SMB2 requests (and the DCE/RPC PDUs inside pipe writes
and transceive ioctls) and, on every connection, waits for the first request
that matches TRIGGER; from then on MODE decides what the client gets:

  stall     the request is not forwarded; nothing is sent again
  hold      the request is forwarded; its reply, and all after, never comes
  trickle   the request is forwarded; replies come one byte a second
  cut       the request is forwarded; half its reply comes, then FIN
  late      every request that matches is answered 9 s late; the rest at once

and two modes that need no trigger ("-"):

  silent    accept and never send a byte
  reset     accept, then reset the connection

TRIGGER is one of: negotiate, setup1, setup2 (the first and second session
setup request), tcon:SHARE, create:NAME, bind, opnum:N, call (any DCE/RPC
request).
"""
import asyncio
import socket
import struct
import sys

LISTEN, UPSTREAM, MODE, TRIGGER = sys.argv[1:5]
PORT = 445
LATE_SECONDS = 9

NEGOTIATE, SESSION_SETUP, TREE_CONNECT, CREATE, WRITE, IOCTL = 0, 1, 3, 5, 9, 11


def utf16(data, offset, length):
    return data[offset:offset + length].decode('utf-16-le', 'replace')


def dcerpc_events(payload):
    """What a pipe payload asks: ('bind',) or ('opnum', n), if it is a PDU."""
    if len(payload) < 24 or payload[0] != 5 or payload[1] != 0:
        return []
    ptype = payload[2]
    if ptype == 11:
        return ['bind']
    if ptype == 0:
        return ['opnum:%d' % struct.unpack_from('<H', payload, 22)[0], 'call']
    return []


def request_events(frame, state):
    """The trigger names one client frame (possibly a compound) matches."""
    events = []
    offset = 0
    while offset + 64 <= len(frame) and frame[offset:offset + 4] == b'\xfeSMB':
        command = struct.unpack_from('<H', frame, offset + 12)[0]
        next_command = struct.unpack_from('<I', frame, offset + 20)[0]
        end = offset + next_command if next_command else len(frame)
        msg = frame[offset:end]
        body = 64
        try:
            if command == NEGOTIATE:
                events.append('negotiate')
            elif command == SESSION_SETUP:
                state['setups'] += 1
                events.append('setup%d' % state['setups'])
            elif command == TREE_CONNECT:
                path_offset, path_length = struct.unpack_from('<HH', msg, body + 4)
                share = utf16(msg, path_offset, path_length).rsplit('\\', 1)[-1]
                events.append('tcon:' + share.lower())
            elif command == CREATE:
                name_offset, name_length = struct.unpack_from('<HH', msg, body + 44)
                events.append('create:' + utf16(msg, name_offset, name_length).lower())
            elif command == WRITE:
                data_offset, length = struct.unpack_from('<HI', msg, body + 2)
                events += dcerpc_events(msg[data_offset:data_offset + length])
            elif command == IOCTL:
                input_offset, input_count = struct.unpack_from('<II', msg, body + 24)
                events += dcerpc_events(msg[input_offset:input_offset + input_count])
        except (struct.error, IndexError):
            pass
        if not next_command:
            break
        offset = end
    return events


async def read_frame(reader):
    head = await reader.readexactly(4)
    length = int.from_bytes(head[1:4], 'big')
    return head + await reader.readexactly(length)


async def forever():
    await asyncio.Event().wait()


async def handle(client_reader, client_writer):
    sock = client_writer.get_extra_info('socket')
    if MODE == 'silent':
        await forever()
    if MODE == 'reset':
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack('ii', 1, 0))
        client_writer.transport.abort()
        return
    server_reader, server_writer = await asyncio.open_connection(UPSTREAM, PORT)
    state = {'setups': 0, 'triggered': False, 'late': 0}
    replies = asyncio.Queue()

    async def upstream():
        while True:
            frame = await read_frame(client_reader)
            hit = TRIGGER in request_events(frame[4:], state)
            if hit and MODE == 'late':
                state['late'] += 1
            elif hit and not state['triggered']:
                state['triggered'] = True
                if MODE == 'stall':
                    await forever()
            server_writer.write(frame)
            await server_writer.drain()

    async def downstream():
        while True:
            frame = await read_frame(server_reader)
            if MODE == 'late' and state['late'] > 0:
                state['late'] -= 1
                await asyncio.sleep(LATE_SECONDS)
            elif state['triggered']:
                if MODE == 'hold':
                    await forever()
                if MODE == 'trickle':
                    for byte in frame:
                        client_writer.write(bytes([byte]))
                        await client_writer.drain()
                        await asyncio.sleep(1)
                    continue
                if MODE == 'cut':
                    client_writer.write(frame[:len(frame) // 2])
                    await client_writer.drain()
                    client_writer.close()
                    return
            client_writer.write(frame)
            await client_writer.drain()

    try:
        await asyncio.gather(upstream(), downstream())
    except (asyncio.IncompleteReadError, ConnectionError, OSError):
        pass
    finally:
        for writer in (client_writer, server_writer):
            writer.close()


async def main():
    server = await asyncio.start_server(handle, LISTEN, PORT, reuse_address=True)
    async with server:
        await server.serve_forever()


asyncio.run(main())
