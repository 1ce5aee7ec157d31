#pragma once
// Helpers of the screenshot tests: files, polling with a deadline, private folders.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

}  // namespace essai
