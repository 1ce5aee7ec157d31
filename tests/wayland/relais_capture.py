#!/usr/bin/env python3
"""A Wayland relay for the screencast back end of the test desktop.

The test compositor has no GPU: its pixman renderer offers screen copies in shared memory
only, and xdg-desktop-portal-wlr 0.7 will not start a cast unless a GPU buffer format is
announced too, even though it then streams shared memory when it has no GPU itself. Seen
through this relay, each screen copy also announces a GPU buffer of the same format and
size. Everything else passes unchanged, descriptors included.
    relais_capture.py SOCKET_RELAIS SOCKET_COMPOSITEUR
"""
import array
import os
import socket
import struct
import sys
import threading

INTERFACE = b"zwlr_screencopy_manager_v1"
# wl_shm's two codes that differ from the DRM fourcc ones.
SHM_VERS_DRM = {0: 0x34325241, 1: 0x34325258}


def chaine(message, debut):
    longueur = struct.unpack_from("<I", message, debut)[0]
    return bytes(message[debut + 4 : debut + 4 + longueur - 1]), debut + 4 + ((longueur + 3) & ~3)


class Suivi:
    """What one connection has bound: its registries, screencopy managers and frames."""

    def __init__(self):
        self.registres, self.noms, self.gestionnaires, self.copies = set(), {}, set(), set()
FDS_MAX = 28


def recevoir(s):
    fds = array.array("i")
    donnees, anc, _, _ = s.recvmsg(65536, socket.CMSG_SPACE(FDS_MAX * fds.itemsize))
    for niveau, type_, d in anc:
        if niveau == socket.SOL_SOCKET and type_ == socket.SCM_RIGHTS:
            fds.frombytes(d[: len(d) - (len(d) % fds.itemsize)])
    return donnees, list(fds)


def envoyer(s, donnees, fds):
    while donnees or fds:
        lot, fds = fds[:FDS_MAX], fds[FDS_MAX:]
        anc = [(socket.SOL_SOCKET, socket.SCM_RIGHTS, array.array("i", lot))] if lot else []
        n = s.sendmsg([donnees], anc)
        for fd in lot:
            os.close(fd)
        donnees = donnees[n:]
        if donnees and not fds:
            s.sendall(donnees)
            donnees = b""


def pomper(source, dest, suivi, vers_client):
    tampon, attente = b"", []
    try:
        while True:
            donnees, fds = recevoir(source)
            if not donnees and not fds:
                break
            tampon += donnees
            attente += fds
            sortie = bytearray()
            while len(tampon) >= 8:
                objet, mot = struct.unpack_from("<II", tampon)
                taille = mot >> 16
                if taille < 8 or len(tampon) < taille:
                    break
                message = bytearray(tampon[:taille])
                tampon = tampon[taille:]
                code = mot & 0xFFFF
                sortie += message
                if not vers_client:
                    if objet == 1 and code == 1:  # wl_display.get_registry
                        suivi.registres.add(struct.unpack_from("<I", message, 8)[0])
                    elif objet in suivi.registres and code == 0:  # wl_registry.bind
                        interface, fin = chaine(message, 12)
                        if interface == INTERFACE:
                            suivi.gestionnaires.add(struct.unpack_from("<I", message, fin + 4)[0])
                    elif objet in suivi.gestionnaires and code in (0, 1):  # capture_output(_region)
                        suivi.copies.add(struct.unpack_from("<I", message, 8)[0])
                elif objet in suivi.copies and code == 0:  # frame.buffer(format, width, height, stride)
                    format_, largeur, hauteur = struct.unpack_from("<III", message, 8)
                    # frame.linux_dmabuf(format, width, height)
                    sortie += struct.pack("<IIIII", objet, (20 << 16) | 5, SHM_VERS_DRM.get(format_, format_), largeur, hauteur)
            if sortie or attente:
                envoyer(dest, bytes(sortie), attente)
                attente = []
    except OSError:
        pass
    finally:
        for s in (source, dest):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def servir(client, chemin_compositeur):
    compositeur = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    compositeur.connect(chemin_compositeur)
    suivi = Suivi()
    for args in ((client, compositeur, suivi, False), (compositeur, client, suivi, True)):
        threading.Thread(target=pomper, args=args, daemon=True).start()


def main():
    relais, compositeur = sys.argv[1], sys.argv[2]
    ecoute = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    ecoute.bind(relais)
    ecoute.listen(8)
    while True:
        client, _ = ecoute.accept()
        servir(client, compositeur)


if __name__ == "__main__":
    main()
