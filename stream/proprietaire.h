#pragma once
// Which account owns the far end of a loopback TCP connection, asked of the kernel's
// socket diagnostics (NETLINK_SOCK_DIAG, inet_diag) by the connection's exact 4-tuple.
// Any thread.
#include <sys/types.h>

#include <optional>

namespace vimba::flux {

// The uid of the socket that connected to `connexion` (an accepted TCP socket), or none
// when the kernel cannot say (peer already gone, diagnostics unavailable).
std::optional<uid_t> proprietaireDuPair(int connexion);

}  // namespace vimba::flux
