// Kerberos credentials for a bind with a typed password.
//
// A password typed into the tool must never cross the network in clear, so against a directory that
// offers GSSAPI we get a ticket with the password ourselves and bind with SASL GSSAPI. The ticket
// goes into a private in-memory credential cache, never into the user's own cache.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace brevonix::krb {

// The Kerberos principal a typed user name stands for, or empty when the name names no realm.
//   "user@REALM"    -> "user@REALM" (the realm upper-cased, as AD realms are)
//   "DOMAIN\\user"  -> "user@" + realm, when the realm's first label equals DOMAIN (case ignored),
//                      or DOMAIN is the whole realm
// `realmHint` is the realm of the directory being bound (for example its DNS domain), used for the
// "DOMAIN\\user" form; an empty hint leaves that form unresolved. Names that cannot be a principal
// (a distinguished name, control characters, an empty part) give empty.
std::string PrincipalForUserName(const std::string& userName, const std::string& realmHint);

// A private MEMORY: credential cache holding a ticket-granting ticket. Destroying it destroys the
// cache. While a bind runs, Activate() points the GSSAPI mechanism of this thread at the cache and
// the returned guard puts the previous setting back (guards must end in reverse order of creation).
class PrivateCredentials {
public:
    virtual ~PrivateCredentials() = default;
    class ActiveGuard {
    public:
        virtual ~ActiveGuard() = default;
    };
    virtual std::unique_ptr<ActiveGuard> Activate() = 0;
    // The cache's full name ("MEMORY:..."), unique in this process.
    virtual std::string CacheName() const = 0;
};

// How long AcquireWithPassword waits for the KDC exchange. MIT Kerberos 1.20 has no setting that
// bounds the whole exchange (a silent KDC costs about 27 s per configured address), so the exchange
// runs on a worker thread and the caller stops waiting after this long.
inline constexpr std::chrono::milliseconds kDefaultKdcTimeout{10000};

// Gets a ticket for `principal` with `password` into a new private cache. On failure returns null
// and puts Kerberos's reason into `error` (never the password). A wrong password fails here, before
// anything reaches the directory. An exchange that takes longer than `timeout` fails with a timeout
// reason; the abandoned exchange finishes in the background and its ticket, if any, is discarded.
std::unique_ptr<PrivateCredentials>
AcquireWithPassword(const std::string& principal, const std::string& password, std::string& error,
                    std::chrono::milliseconds timeout = kDefaultKdcTimeout);

} // namespace brevonix::krb
