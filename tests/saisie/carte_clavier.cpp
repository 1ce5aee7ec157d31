// Prints the core keyboard mapping (one keycode a line), the modifier map and the modifier
// state, so a test can check that typing leaves the keyboard as it found it.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstdio>

int main() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 1;
    int min = 0, max = 0, colonnes = 0;
    XDisplayKeycodes(d, &min, &max);
    KeySym* carte = XGetKeyboardMapping(d, static_cast<KeyCode>(min), max - min + 1, &colonnes);
    for (int k = min; k <= max; ++k) {
        std::printf("%d", k);
        for (int c = 0; c < colonnes; ++c) std::printf(" %lx", carte[(k - min) * colonnes + c]);
        std::printf("\n");
    }
    XFree(carte);
    XModifierKeymap* m = XGetModifierMapping(d);
    for (int i = 0; i < 8 * m->max_keypermod; ++i) std::printf("%s%d", i % m->max_keypermod ? " " : "\nmod ", m->modifiermap[i]);
    std::printf("\n");
    XFreeModifiermap(m);
    XkbStateRec etat;
    if (XkbGetState(d, XkbUseCoreKbd, &etat) == Success) std::printf("etat %x\n", etat.mods);
    char touches[32];
    XQueryKeymap(d, touches);
    std::printf("enfoncees");
    for (int k = 0; k < 256; ++k)
        if (touches[k / 8] & (1 << (k % 8))) std::printf(" %d", k);
    std::printf("\n");
    XCloseDisplay(d);
    return 0;
}
