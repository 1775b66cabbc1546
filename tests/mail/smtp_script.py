"""smtp_script.py STEP REPLY [SECONDS]: an SMTP server on a free loopback port that answers like
an ordinary one except at STEP (greeting, ehlo, mail, rcpt, data, end (of the message) or quit),
where it sends REPLY (backslash escapes allowed, "\\r\\n" between the lines of a multi-line reply)
or, for REPLY "stall", says nothing more while it keeps reading. Prints "PORT PID" once it listens
and serves in the background until killed, or for SECONDS (default 120) at most."""
import asyncio
import codecs
import os
import socket
import sys

STEP, REPLY = sys.argv[1], sys.argv[2]
LIFETIME_SECONDS = float(sys.argv[3]) if len(sys.argv) > 3 else 120
if REPLY != "stall":
    REPLY = codecs.decode(REPLY, "unicode_escape").encode("latin-1") + b"\r\n"


async def answer(writer, step, normal):
    if step != STEP:
        writer.write(normal)
    elif REPLY != "stall":
        writer.write(REPLY)
    await writer.drain()
    return step == STEP and REPLY == "stall"


async def serve(reader, writer):
    try:
        stalled = await answer(writer, "greeting", b"220 scripted ESMTP\r\n")
        while True:
            line = await reader.readline()
            if not line:
                break
            if stalled:
                continue
            verb = line[:4].upper()
            if verb in (b"EHLO", b"HELO"):
                stalled = await answer(writer, "ehlo", b"250 scripted\r\n")
            elif verb == b"MAIL":
                stalled = await answer(writer, "mail", b"250 OK\r\n")
            elif verb == b"RCPT":
                stalled = await answer(writer, "rcpt", b"250 OK\r\n")
            elif verb == b"DATA":
                if await answer(writer, "data", b"354 End with .\r\n"):
                    stalled = True
                    continue
                if STEP == "data":
                    continue
                while (line := await reader.readline()) not in (b".\r\n", b""):
                    pass
                stalled = await answer(writer, "end", b"250 Accepted\r\n")
            elif verb == b"QUIT":
                if not await answer(writer, "quit", b"221 Bye\r\n"):
                    break
                stalled = True
            else:
                writer.write(b"250 OK\r\n")
                await writer.drain()
    except (ConnectionError, OSError):
        pass
    writer.close()


async def main(listener):
    server = await asyncio.start_server(serve, sock=listener)
    async with server:
        await asyncio.sleep(LIFETIME_SECONDS)


listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen()
pid = os.fork()
if pid:
    print(listener.getsockname()[1], pid, flush=True)
    os._exit(0)
devnull = os.open(os.devnull, os.O_RDWR)
for fd in (0, 1, 2):
    os.dup2(devnull, fd)
asyncio.run(main(listener))
