#pragma once
// The HTTP(S) front of the service: cpp-httplib on a thread pool, each call handed to
// Service::repondre. Runs until SIGTERM or SIGINT.
#include "service/config.h"

namespace vimba::service {

// Returns the process's exit status; failures are told on standard error in French.
int servir(const Config& config);

// True for 127.0.0.0/8, ::1 and localhost: the only places plain HTTP may listen.
bool boucle_locale(const std::string& hote);

}  // namespace vimba::service
