#pragma once
// Helpers of the desktop tests: the GTK3 test window as a child process, polling with a
// deadline, the widgets' rectangles it publishes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace essai {

inline std::string lireFichier(const std::string& chemin) {
    std::ifstream f(chemin, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

template <class F>
bool attendreQue(F condition, std::chrono::milliseconds delai = std::chrono::seconds(10)) {
    const auto fin = std::chrono::steady_clock::now() + delai;
    while (std::chrono::steady_clock::now() < fin) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// A private folder, removed with everything in it.
struct Dossier {
    std::string chemin;
    Dossier() {
        char m[] = "/tmp/essai-lecture-XXXXXX";
        chemin = mkdtemp(m);
    }
    ~Dossier() { std::filesystem::remove_all(chemin); }
    std::string operator/(const std::string& n) const { return chemin + "/" + n; }
};

struct Rect {
    int x = 0, y = 0, l = 0, h = 0;
};

// The test window, started with its state folder; killed at the end.
class Appli {
public:
    explicit Appli(const std::string& programme, int lignes = 0, const std::string& scene = "principale") {
        pid_ = fork();
        if (pid_ == 0) {
            const std::string n = std::to_string(lignes);
            execl(programme.c_str(), programme.c_str(), "--etat", etat_.chemin.c_str(), "--lignes", n.c_str(),
                  "--scene", scene.c_str(), nullptr);
            _exit(127);
        }
        pret_ = attendreQue([&] { return std::filesystem::exists(etat_ / "pret"); });
    }
    ~Appli() {
        kill(pid_, SIGCONT);
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    bool pret() const { return pret_; }
    int pid() const { return pid_; }
    std::string etat(const std::string& nom) const { return lireFichier(etat_ / nom); }
    std::map<std::string, Rect> geometrie() const {
        std::map<std::string, Rect> r;
        std::istringstream in(etat("geometrie"));
        std::string nom;
        Rect g;
        while (in >> nom >> g.x >> g.y >> g.l >> g.h) r[nom] = g;
        return r;
    }

private:
    Dossier etat_;
    pid_t pid_ = -1;
    bool pret_ = false;
};

// Gives the focus to the window of that process whose title matches, as a click would;
// the reader works on the application in front.
inline bool donnerFocus(int pid, const std::string& titre) {
    const std::string c = "xdotool search --all --sync --onlyvisible --pid " + std::to_string(pid) + " --name '" + titre +
                          "' | head -n 1 | xargs -r xdotool windowfocus --sync >/dev/null 2>&1";
    return std::system(c.c_str()) == 0;
}

}  // namespace essai
