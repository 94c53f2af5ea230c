# A relay between a client and a server on 127.0.0.1 that records what
# passes: prints its port, takes one connection, joins it to the server's
# port and appends "c>s <hex>" or "s>c <hex>" for every chunk to the log.
import select
import socket
import sys

target, log = int(sys.argv[1]), sys.argv[2]
lsock = socket.socket()
lsock.bind(("127.0.0.1", 0))
lsock.listen(1)
print(lsock.getsockname()[1], flush=True)
c, _ = lsock.accept()
s = socket.create_connection(("127.0.0.1", target))
names = {c: ("c>s", s), s: ("s>c", c)}
with open(log, "a") as out:
    while True:
        ready, _, _ = select.select([c, s], [], [], 30)
        if not ready:
            break
        done = False
        for r in ready:
            try:
                data = r.recv(65536)
            except ConnectionResetError:  # an abortive close
                data = b""
            tag, other = names[r]
            if not data:
                done = True
                break
            out.write(tag + " " + data.hex() + "\n")
            out.flush()
            other.sendall(data)
        if done:
            break
c.close()
s.close()
