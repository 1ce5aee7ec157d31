// The technician's end of the request folder, shared by vimba-demande and the SSH gate
// vimba-porte: drop one request atomically, wait for its reply, take the reply away.
// Everything runs on the calling thread.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace vimba::canal {

struct Options {
    // How long the agent has to take the request before it is taken back unanswered.
    std::chrono::milliseconds prise{10000};
    // How long, from the start, a request once taken may run before giving up on its reply.
    std::chrono::milliseconds totale{10000};
    // The folder itself may not be a symbolic link (the gate's case).
    bool sansLien = false;
    // Both waits last at least 10 s past the agent's last sign of work ("en-cours", renewed
    // every second while a request runs): a long request, or one queued behind it, is
    // waited for as long as the agent is working.
    bool tantQueOccupe = false;
};

struct Resultat {
    enum class Etat { Repondue, SansReponse, Impossible };
    Etat etat = Etat::Impossible;
    std::string texte;   // the reply, exactly, when Repondue
    std::string raison;  // a French sentence otherwise
};

Resultat demander(const std::string& dossier, const std::string& demande, const Options& options);

// 0 for "ok …", 1 for any other reply, 2 when none came: what both tools exit with.
int codeDeSortie(const Resultat& r);

// The reply made safe for a terminal: line feeds and tabs kept, other control characters
// (C0, DEL, C1), bidirectional overrides and bytes that are not UTF-8 shown as \xHH or
// \u{HHHH}. Replies carry other programs' texts (window names, the clipboard) that could
// otherwise drive the terminal.
std::string pourTerminal(std::string_view reponse);

}  // namespace vimba::canal
