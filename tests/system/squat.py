"""A local user's gpsd while Debian's is down: port 2947 on both loopback addresses,
a fix for every client, the session held open."""
import socket
import threading

TPV = (b'{"class":"TPV","mode":3,"status":1,"time":"2026-12-06T12:00:00.000Z",'
       b'"lat":10.0,"lon":20.0,"alt":30.0}\n')


def serve(family, address):
    listener = socket.create_server((address, 2947), family=family)
    held = []
    while True:
        client, _ = listener.accept()
        client.sendall(TPV * 5)
        held.append(client)


threading.Thread(target=serve, args=(socket.AF_INET6, "::1"), daemon=True).start()
serve(socket.AF_INET, "127.0.0.1")
