"""A TCP peer for the connectivity tests, on loopback only.

peer.py server <host> <mode>   listens on host (127.0.0.1 or ::1) at a port
                               the system picks, prints the port, serves one
                               connection in the given mode:
    echo     print "got <hex>" for each chunk and answer b"R" + chunk
    silent   send nothing; end when the client closes
    close    close at once
    urgent   after the client's first byte send b"x" then urgent b"B"
    hold     read nothing; the test ends the peer
peer.py client <host> <port> <text>
                               connects, sends text, prints "reply <hex>"
                               of the first answer, closes.
"""
import socket
import sys
import time


def family(host):
    return socket.AF_INET6 if ":" in host else socket.AF_INET


def server(host, mode):
    s = socket.socket(family(host), socket.SOCK_STREAM)
    s.bind((host, 0))
    s.listen(1)
    print(s.getsockname()[1], flush=True)
    c, _ = s.accept()
    s.close()
    if mode == "close":
        c.close()
        return
    if mode == "echo":
        while True:
            data = c.recv(65536)
            if not data:
                break
            print("got " + data.hex(), flush=True)
            c.sendall(b"R" + data)
    elif mode == "urgent":
        c.recv(1)
        c.send(b"x")
        c.send(b"B", socket.MSG_OOB)
        print("sent", flush=True)
        while c.recv(65536):
            pass
    elif mode == "hold":
        time.sleep(60)
    else:  # silent
        c.settimeout(60)
        try:
            while c.recv(65536):
                pass
        except OSError:
            pass
    print("end", flush=True)
    c.close()


def client(host, port, text):
    c = socket.create_connection((host, int(port)), timeout=30)
    c.sendall(text.encode())
    print("reply " + c.recv(65536).hex(), flush=True)
    c.close()


if __name__ == "__main__":
    if sys.argv[1] == "server":
        server(sys.argv[2], sys.argv[3])
    else:
        client(sys.argv[2], sys.argv[3], sys.argv[4])
