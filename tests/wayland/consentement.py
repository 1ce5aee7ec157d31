#!/usr/bin/env python3
# Answers xdg-desktop-portal-gnome's consent dialogs through the accessibility bus, as a
# user would: the first monitor chosen, remote interaction allowed, then "Share".
# Runs until killed; prints one line per dialog answered.
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

S = Atspi.StateType
warnings.simplefilter("ignore", DeprecationWarning)


def enfants(o):
    for i in range(o.get_child_count()):
        c = o.get_child_at_index(i)
        if c is not None:
            yield c


def parcourir(o):
    yield o
    for c in enfants(o):
        yield from parcourir(c)


def agir(o, nom):
    for i in range(o.get_n_actions()):
        if o.get_action_name(i) == nom:
            return o.do_action(i)
    return False


def repondre(fenetre):
    bouton = None
    # A switch flipped while the dialog is still being set up is lost: let it settle first
    # (the switch tells nothing of its state on the accessibility bus).
    time.sleep(1)
    for o in parcourir(fenetre):
        role, etats = o.get_role(), o.get_state_set()
        if role == Atspi.Role.LIST and any(c.get_role() == Atspi.Role.LIST_ITEM for c in enfants(o)):
            # The monitor list (the switch's list holds no monitor but is harmless to select).
            sel = o.get_selection_iface()
            if sel is not None and sel.get_n_selected_children() == 0:
                sel.select_child(0)
        elif role == Atspi.Role.CHECK_BOX and not etats.contains(S.CHECKED):
            # "Allow remote interaction", off at first.
            agir(o, "toggle")
        elif role == Atspi.Role.PUSH_BUTTON and o.get_name().replace("_", "").startswith("Share"):
            bouton = o
    if bouton is None or not bouton.get_state_set().contains(S.SENSITIVE):
        return False
    return agir(bouton, "click")


def main():
    vus = set()
    while True:
        try:
            bureau = Atspi.get_desktop(0)
            for appli in enfants(bureau):
                if appli.get_name() != "xdg-desktop-portal-gnome":
                    continue
                for f in enfants(appli):
                    cle = (appli.get_process_id(), f.get_name(), f.path if hasattr(f, "path") else id(f))
                    if f.get_role() in (Atspi.Role.FRAME, Atspi.Role.DIALOG) and cle not in vus and repondre(f):
                        vus.add(cle)
                        print("consentement:", f.get_name(), flush=True)
        except gi.repository.GLib.Error:
            pass  # a dialog closing under our feet
        time.sleep(0.1)


main()
