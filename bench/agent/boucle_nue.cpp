// The floor for the idle agent: a bare GLib main loop with the agent's 12 ms timer and
// nothing else. Runs until killed.
#include <glib.h>

int main() {
    GMainLoop* boucle = g_main_loop_new(nullptr, FALSE);
    g_timeout_add(12, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    g_main_loop_run(boucle);
}
