// Kerberos credentials for a bind with a typed password.
//
// A password typed into the tool must never cross the network in clear, so against a directory that
// offers GSSAPI we get a ticket with the password ourselves and bind with SASL GSSAPI. The ticket
// goes into a private in-memory credential cache, never into the user's own cache.
#pragma once

#include <memory>
#include <string>

namespace brevonix::krb {

// The Kerberos principal a typed user name stands for, or empty when the name names no realm.
//   "user@REALM"    -> "user@REALM" (the realm upper-cased, as AD realms are)
//   "DOMAIN\\user"  -> "user@" + realm, when the realm's first label equals DOMAIN (case ignored)
// `realmHint` is the realm of the directory being bound (for example its DNS domain), used for the
// "DOMAIN\\user" form; an empty hint leaves that form unresolved.
std::string PrincipalForUserName(const std::string& userName, const std::string& realmHint);

// A private MEMORY: credential cache holding a ticket-granting ticket. Destroying it destroys the
// cache. While a bind runs, Activate() points the GSSAPI mechanism of this thread at the cache and
// the returned guard puts the previous cache name back.
class PrivateCredentials {
public:
    virtual ~PrivateCredentials() = default;
    class ActiveGuard {
    public:
        virtual ~ActiveGuard() = default;
    };
    virtual std::unique_ptr<ActiveGuard> Activate() = 0;
};

// Gets a ticket for `principal` with `password` into a new private cache. On failure returns null
// and puts Kerberos's reason into `error` (never the password). A wrong password fails here, before
// anything reaches the directory.
std::unique_ptr<PrivateCredentials> AcquireWithPassword(const std::string& principal,
                                                        const std::string& password, std::string& error);

} // namespace brevonix::krb
