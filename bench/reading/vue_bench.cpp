// "vue" on the main display: the in-process grab, reduction and encoding beside the
// system tools' pipeline (import, then convert to the same size and quality), in the same
// process on the same screen. The screen changes before each capture so none is skipped
// as unchanged. Run inside scripts/avec-bureau.sh.
//   bench_vue [--tours N]
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "reading/photo.h"

namespace {

// Paints the root window a different way each time and waits until the server has done it.
void changer(Display* d, int tour) {
    const Window racine = DefaultRootWindow(d);
    GC gc = XCreateGC(d, racine, 0, nullptr);
    for (int i = 0; i < 32; ++i) {
        XSetForeground(d, gc, static_cast<unsigned long>((tour * 7919 + i * 104729) & 0xffffff));
        XFillRectangle(d, racine, gc, (i * 61 + tour * 13) % 1800, (i * 37 + tour * 29) % 1000, 240, 160);
    }
    XFreeGC(d, gc);
    XSync(d, False);
}

double mediane(int tours, Display* d, const std::function<std::string()>& prendre, std::string& reponse) {
    std::vector<double> durees;
    for (int t = 0; t < tours; ++t) {
        changer(d, t);
        const auto debut = std::chrono::steady_clock::now();
        reponse = prendre();
        durees.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - debut).count());
    }
    std::sort(durees.begin(), durees.end());
    return durees[durees.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int tours = 15;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--tours")) tours = std::max(1, std::atoi(argv[i + 1]));
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "pas d’écran\n");
        return 1;
    }
    char modele[] = "/tmp/bench-vue-XXXXXX";
    const std::string dossier = mkdtemp(modele);
    vimba::photo::Photographe p(dossier, vimba::photo::ecranX11(), vimba::photo::outilsDuSysteme());
    std::string r1, r0;
    const double nous = mediane(tours, d, [&] { return p.capturer(); }, r1);
    const double outils = mediane(std::max(3, tours / 3), d, [&] { return p.capturerParOutils(); }, r0);
    std::printf("écran %d×%d, médianes\n", DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d)));
    std::printf("vue dans le processus : %7.1f ms  (%s)\n", nous, r1.c_str());
    std::printf("outils du système     : %7.1f ms  (%s)\n", outils, r0.c_str());
    std::printf("rapport               : %7.1f×\n", outils / nous);
    std::filesystem::remove_all(dossier);
    XCloseDisplay(d);
    return r1.rfind("ok vue", 0) == 0 ? 0 : 1;
}
