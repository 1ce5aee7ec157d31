// The clipboard on Wayland through wl-clipboard: the agent has no surface with the keyboard
// focus, and a compositor offers the selection only to such a client, so GTK's clipboard
// sees nothing there. wl-copy keeps serving what was set after it returns. Main thread.
#include <gio/gio.h>

#include "agent/wayland/fabrique_wayland.h"

namespace vimba::wayland {

namespace {

constexpr guint kDelaiMs = 2000;

struct Issue {
    bool fini = false, reussi = false;
    GBytes* sortie = nullptr;
};

// Runs the program with `entree` on its standard input, within the delay, on a context of
// its own so that nothing else of the agent runs meanwhile. Its output when it succeeded.
std::optional<std::string> lancer(const char* const* argv, const std::string* entree, bool lireSortie) {
    GSubprocessFlags drapeaux = static_cast<GSubprocessFlags>(
        G_SUBPROCESS_FLAGS_STDERR_SILENCE | (entree ? G_SUBPROCESS_FLAGS_STDIN_PIPE : 0) |
        // wl-copy's serving child keeps what it inherits: no pipe it could hold open.
        (lireSortie ? G_SUBPROCESS_FLAGS_STDOUT_PIPE : G_SUBPROCESS_FLAGS_STDOUT_SILENCE));
    GSubprocess* p = g_subprocess_newv(argv, drapeaux, nullptr);
    if (!p) return std::nullopt;
    GMainContext* ctx = g_main_context_new();
    g_main_context_push_thread_default(ctx);
    Issue issue;
    GBytes* donnees = entree ? g_bytes_new(entree->data(), entree->size()) : nullptr;
    g_subprocess_communicate_async(
        p, donnees, nullptr,
        [](GObject* source, GAsyncResult* r, gpointer i) {
            auto* issue = static_cast<Issue*>(i);
            GSubprocess* p = G_SUBPROCESS(source);
            issue->reussi = g_subprocess_communicate_finish(p, r, &issue->sortie, nullptr, nullptr) &&
                            g_subprocess_get_if_exited(p) && g_subprocess_get_exit_status(p) == 0;
            issue->fini = true;
        },
        &issue);
    bool depasse = false;
    GSource* minuterie = g_timeout_source_new(kDelaiMs);
    g_source_set_callback(minuterie, [](gpointer d) { *static_cast<bool*>(d) = true; return G_SOURCE_REMOVE; }, &depasse,
                          nullptr);
    g_source_attach(minuterie, ctx);
    while (!issue.fini && !depasse) g_main_context_iteration(ctx, TRUE);
    if (!issue.fini) {
        // A selection owner that never answers: stop waiting, and stop the reader.
        g_subprocess_force_exit(p);
        while (!issue.fini) g_main_context_iteration(ctx, TRUE);
        issue.reussi = false;
    }
    g_source_destroy(minuterie);
    g_source_unref(minuterie);
    if (donnees) g_bytes_unref(donnees);
    g_main_context_pop_thread_default(ctx);
    g_main_context_unref(ctx);
    g_object_unref(p);
    std::optional<std::string> r;
    if (issue.reussi) {
        r.emplace();
        if (issue.sortie) {
            gsize n = 0;
            const auto* o = static_cast<const char*>(g_bytes_get_data(issue.sortie, &n));
            r->assign(o ? o : "", n);
        }
    }
    if (issue.sortie) g_bytes_unref(issue.sortie);
    return r;
}

class PressePapiersWayland final : public PressePapiers {
public:
    std::optional<std::string> lire() override {
        // Fails (nothing copied, no text among the offered types) without output: no text.
        static const char* const argv[] = {"wl-paste", "--no-newline", "--type", "text", nullptr};
        return lancer(argv, nullptr, true);
    }

    void ecrire(const std::string& texte) override {
        static const char* const argv[] = {"wl-copy", "--type", "text/plain;charset=utf-8", nullptr};
        lancer(argv, &texte, false);
    }
};

}  // namespace

std::unique_ptr<PressePapiers> creerPresseWayland() { return std::make_unique<PressePapiersWayland>(); }

}  // namespace vimba::wayland
