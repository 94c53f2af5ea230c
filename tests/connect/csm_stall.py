# A module peer that answers the test module's hello and then stops
# reading: prints its port, takes one connection, answers "WELCOME" to the
# hello and sleeps until the test ends it.
import socket
import sys
import time

lsock = socket.socket()
lsock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
lsock.bind(("127.0.0.1", 0))
lsock.listen(1)
print(lsock.getsockname()[1], flush=True)
c, _ = lsock.accept()
try:
    if c.recv(4096).startswith(b"HELLO"):
        c.sendall(b"WELCOME")
except ConnectionResetError:  # the client aborted
    pass
time.sleep(60)
