#include "stream/proprietaire.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vimba::flux {

namespace {
// An IPv4 peer seen through a dual-stack listener: the peer's own socket is IPv4.
bool versIPv4(sockaddr_storage& a) {
    if (a.ss_family != AF_INET6) return true;
    const auto& s6 = reinterpret_cast<const sockaddr_in6&>(a);
    if (!IN6_IS_ADDR_V4MAPPED(&s6.sin6_addr)) return false;
    sockaddr_in s4{};
    s4.sin_family = AF_INET;
    s4.sin_port = s6.sin6_port;
    std::memcpy(&s4.sin_addr, s6.sin6_addr.s6_addr + 12, 4);
    std::memset(&a, 0, sizeof a);
    std::memcpy(&a, &s4, sizeof s4);
    return true;
}

void copier(const sockaddr_storage& a, __be16& port, __be32 adresse[4]) {
    if (a.ss_family == AF_INET) {
        const auto& s = reinterpret_cast<const sockaddr_in&>(a);
        port = s.sin_port;
        std::memcpy(adresse, &s.sin_addr, 4);
    } else {
        const auto& s = reinterpret_cast<const sockaddr_in6&>(a);
        port = s.sin6_port;
        std::memcpy(adresse, &s.sin6_addr, 16);
    }
}
}  // namespace

std::optional<uid_t> proprietaireDuPair(int connexion) {
    sockaddr_storage pair{}, local{};
    socklen_t lp = sizeof pair, ll = sizeof local;
    if (::getpeername(connexion, reinterpret_cast<sockaddr*>(&pair), &lp) != 0 ||
        ::getsockname(connexion, reinterpret_cast<sockaddr*>(&local), &ll) != 0)
        return std::nullopt;
    if (pair.ss_family != local.ss_family || (pair.ss_family != AF_INET && pair.ss_family != AF_INET6)) return std::nullopt;
    const bool mappe = pair.ss_family == AF_INET6 &&
                       IN6_IS_ADDR_V4MAPPED(&reinterpret_cast<const sockaddr_in6&>(pair).sin6_addr);
    if (mappe && !(versIPv4(pair) && versIPv4(local))) return std::nullopt;

    struct {
        nlmsghdr entete;
        inet_diag_req_v2 demande;
    } requete{};
    requete.entete.nlmsg_len = sizeof requete;
    requete.entete.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    requete.entete.nlmsg_flags = NLM_F_REQUEST;  // one socket by its 4-tuple, no dump
    requete.demande.sdiag_family = static_cast<__u8>(pair.ss_family);
    requete.demande.sdiag_protocol = IPPROTO_TCP;
    requete.demande.idiag_states = ~0u;
    // The socket asked for is the peer's: its own address is our remote one.
    copier(pair, requete.demande.id.idiag_sport, requete.demande.id.idiag_src);
    copier(local, requete.demande.id.idiag_dport, requete.demande.id.idiag_dst);
    requete.demande.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    requete.demande.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    const int nl = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (nl < 0) return std::nullopt;
    timeval delai{1, 0};  // the kernel answers at once; never hang the server's thread
    ::setsockopt(nl, SOL_SOCKET, SO_RCVTIMEO, &delai, sizeof delai);
    sockaddr_nl noyau{};
    noyau.nl_family = AF_NETLINK;
    std::optional<uid_t> uid;
    if (::sendto(nl, &requete, sizeof requete, 0, reinterpret_cast<sockaddr*>(&noyau), sizeof noyau) ==
        static_cast<ssize_t>(sizeof requete)) {
        alignas(nlmsghdr) char tampon[8192];
        ssize_t n;
        do n = ::recv(nl, tampon, sizeof tampon, 0);
        while (n < 0 && errno == EINTR);
        for (auto* h = reinterpret_cast<nlmsghdr*>(tampon); n > 0 && NLMSG_OK(h, n);
             h = NLMSG_NEXT(h, n)) {
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY) break;  // NLMSG_ERROR: no such socket
            const auto* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
            if (h->nlmsg_len < NLMSG_LENGTH(sizeof *m)) break;
            if (m->id.idiag_sport == requete.demande.id.idiag_sport && m->id.idiag_dport == requete.demande.id.idiag_dport) {
                uid = m->idiag_uid;
                break;
            }
        }
    }
    ::close(nl);
    return uid;
}

}  // namespace vimba::flux
