#include "agent/veille.h"

#include <glib-unix.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

namespace vimba {

namespace {
constexpr std::uint32_t evenements = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_CLOSE_WRITE | IN_DELETE | IN_ATTRIB |
                                     IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
}

VeilleDossier::VeilleDossier(std::string dossier, std::function<void()> auReveil)
    : dossier_(std::move(dossier)), auReveil_(std::move(auReveil)) {}

VeilleDossier::~VeilleDossier() { arreter(); }

void VeilleDossier::demarrer() {
    if (fd_ >= 0) return;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    source_ = g_unix_fd_add(fd_, G_IO_IN, [](gint, GIOCondition, gpointer moi) -> gboolean {
        static_cast<VeilleDossier*>(moi)->lireEvenements();
        return G_SOURCE_CONTINUE;
    }, this);
    sale_ = true;
}

void VeilleDossier::arreter() {
    if (source_) g_source_remove(source_);
    if (fd_ >= 0) ::close(fd_);
    source_ = 0;
    fd_ = -1;
    surveillance_ = -1;
    sale_ = true;
}

bool VeilleDossier::aChange() {
    if (fd_ < 0) return true;
    if (surveillance_ < 0) {
        // The folder may appear (or come back) at any time: keep trying, cheaply.
        surveillance_ = ::inotify_add_watch(fd_, dossier_.c_str(), evenements);
        if (surveillance_ >= 0) sale_ = true;
        return true;
    }
    return sale_;
}

void VeilleDossier::lireEvenements() {
    alignas(inotify_event) char tampon[16384];
    bool demande = false;
    for (;;) {
        const ssize_t n = ::read(fd_, tampon, sizeof tampon);
        if (n <= 0) break;
        for (ssize_t k = 0; k < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(tampon + k);
            k += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            sale_ = true;
            if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                if (surveillance_ >= 0) ::inotify_rm_watch(fd_, surveillance_);
                surveillance_ = -1;
            }
            if (e->mask & IN_Q_OVERFLOW) demande = true;
            if (e->len && std::strncmp(e->name, "demande-", 8) == 0 && (e->mask & (IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE)))
                demande = true;
        }
    }
    if (demande && auReveil_) auReveil_();
}

}  // namespace vimba
