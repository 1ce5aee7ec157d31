#include "agent/lancer.h"

#include <gio/gio.h>

namespace vimba {

namespace {

struct Issue {
    bool fini = false, reussi = false;
    GBytes* sortie = nullptr;
};

}  // namespace

std::optional<std::string> lancerBorne(const char* const* argv, const std::string* entree, bool lireSortie,
                                       std::chrono::milliseconds delai) {
    GSubprocessFlags drapeaux = static_cast<GSubprocessFlags>(
        G_SUBPROCESS_FLAGS_STDERR_SILENCE | (entree ? G_SUBPROCESS_FLAGS_STDIN_PIPE : 0) |
        // A child left serving (wl-copy's) keeps what it inherits: no pipe it could hold open.
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
    GSource* minuterie = g_timeout_source_new(static_cast<guint>(delai.count()));
    g_source_set_callback(minuterie, [](gpointer d) { *static_cast<bool*>(d) = true; return G_SOURCE_REMOVE; }, &depasse,
                          nullptr);
    g_source_attach(minuterie, ctx);
    while (!issue.fini && !depasse) g_main_context_iteration(ctx, TRUE);
    if (!issue.fini) {
        // A selection owner that never answers, a tool waiting for a click: stop waiting, stop it.
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

}  // namespace vimba
