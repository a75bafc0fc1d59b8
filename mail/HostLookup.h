#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>
#include <mutex>

class TSocketNotifyWindow;

// What a socket shares with the threads of its lookups. A lookup's thread may outlive
// its socket (the system's resolver cannot be stopped); the socket clears `window` in
// its destructor, and a thread posts its answer only while holding the mutex with
// `window` still set, so no answer goes to an object that is gone.
struct THostLookupShare
{
    std::mutex mutex;
    TSocketNotifyWindow *window = nullptr;
    quint64 serial = 0;  // the lookup the socket waits for
    quint32 address = 0; // that lookup's IPv4 address in host byte order; 0 = none
};

// The error numbers of a lookup's answer.
constexpr int kHostNotFound = 11001;
constexpr int kHostLookupFailed = 11002;
constexpr int kNoIpv4Address = 11004;

// Looks `name` up for an IPv4 address and waits for the answer: 0 with `address` set
// (host byte order), else kHostNotFound, kHostLookupFailed or kNoIpv4Address. `name` is
// read as serverNamed reads it: the socket hands over the name it looks up by, which
// reads as itself.
int lookUpIpv4(const QString &name, quint32 &address);

// Looks `name` up on a thread of its own. The answer is posted to share->window as
// kHostLookupMessage with `serial` and the error number in the high 16 bits; when
// `serial` is still the one share->serial names, share->address holds the address.
void startHostLookup(const std::shared_ptr<THostLookupShare> &share, const QString &name, quint64 serial);

// The lookups whose thread has not ended yet.
int runningHostLookups();

// For tests: the function the lookup threads call instead of lookUpIpv4; nullptr goes
// back to it.
using THostResolver = int (*)(const QString &name, quint32 &address);
void setHostResolverForTesting(THostResolver resolver);
