// The support service over HTTP+JSON (cpp-httplib, OpenSSL for https). One request at a time.
#pragma once

#include "tools/technicien/configuration.h"
#include "tools/technicien/technicien.h"

namespace vimba::technicien {

class ServiceHttp : public Service {
public:
    explicit ServiceHttp(Configuration configuration);
    bool creerCode(const std::string& nom, const std::string& cle, Code& code, std::string& erreur) override;
    bool attendre(Session& session, int delai, Etat& etat, std::string& erreur) override;
    bool fermer(const Session& session, std::string& erreur) override;

private:
    Configuration configuration_;
};

}  // namespace vimba::technicien
