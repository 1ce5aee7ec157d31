#pragma once
// The request folder, trusted only as the session makes it: opened once without
// following a link, every entry then reached through that descriptor. Shared by the
// agent, the screenshots and the stream server; safe on any thread.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vimba::dossier {

// The account the technician's requests arrive as (through the SSH gate).
inline constexpr const char* compteTechnicien = "vimba-technicien";

struct Technicien {
    uid_t uid;
    gid_t gid;  // its primary group, the one the session gives the folder
};
// Looked up each time: the session may create the account after we start.
std::optional<Technicien> technicien();

// Whether a uid may hand us requests or watch the stream: ours or the technician's.
bool compteDeLaSession(uid_t uid);

enum class Verdict {
    Sur,             // ours, closed to others, group only the technician's
    Absent,          // missing, or not a folder
    Lien,            // a symbolic link in its place
    PasAMoi,         // owned by another account
    OuvertAuxAutres, // others have some access
    GroupeEtranger,  // the group has access and is not the technician's
};

enum class Lecture { Lue, Absente, PasUnFichier, Etrangere, Illisible, TropLongue };

class Dossier {
public:
    // The folder when it can be trusted; `verdict` says why not otherwise.
    static std::optional<Dossier> ouvrir(const std::string& chemin, Verdict* verdict = nullptr);

    Dossier(Dossier&& autre) noexcept : fd_(autre.fd_), gid_(autre.gid_) { autre.fd_ = -1; }
    Dossier& operator=(Dossier&&) = delete;
    Dossier(const Dossier&) = delete;
    ~Dossier();

    // Names in the folder, or none when it cannot be listed.
    std::optional<std::vector<std::string>> lister() const;
    // Reads a regular file whole without blocking on FIFOs or devices; a file of an
    // account outside the session, or with other hard links, is Etrangere. Beyond
    // `maximum` bytes nothing more is read (TropLongue), whatever size the file claims.
    Lecture lire(const std::string& nom, std::string& contenu, std::size_t maximum = SIZE_MAX) const;
    bool existe(const std::string& nom) const;
    bool supprimer(const std::string& nom) const;
    // Removes whatever the entry is (file, link, FIFO, empty directory).
    bool retirer(const std::string& nom) const;
    // A fresh file under a hidden random name (mode 0640, the folder's group, never
    // through a link), renamed onto nom once whole; replaces a link, never writes through it.
    bool ecrireAtomique(const std::string& nom, std::string_view contenu) const;

private:
    Dossier(int fd, gid_t gid) : fd_(fd), gid_(gid) {}
    int fd_;
    gid_t gid_;
};

// French sentence for a folder that is not trusted, for the agent's start.
std::string expliquer(Verdict v, const std::string& chemin);

}  // namespace vimba::dossier
