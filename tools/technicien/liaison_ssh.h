// The SSH road through OpenSSH: a private ssh_config (-F) with the relay and the computer,
// both host keys pinned, ProxyJump, one ControlMaster kept in the background.
#pragma once

#include "tools/technicien/technicien.h"

namespace vimba::technicien {

class LiaisonSsh : public Liaison {
public:
    explicit LiaisonSsh(std::string clePrivee);
    bool ouvrir(Session& session, std::string& erreur) override;
    bool ouverte(const Session& session) override;
    Resultat executer(const Session& session, const std::string& commande, const std::string& entree) override;
    pid_t brancher(const Session& session, const std::string& commande, int fd) override;
    void fermer(Session& session) override;

private:
    std::string clePrivee_;
};

}  // namespace vimba::technicien
