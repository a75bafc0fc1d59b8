#include "mail/HostLookup.h"

#include "mail/MailServer.h"
#include "mail/NotifyWindow.h"

#include <arpa/inet.h>
#include <atomic>
#include <netdb.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

namespace {

std::atomic<int> g_running{0};
std::atomic<THostResolver> g_resolver{nullptr};

} // namespace

int lookUpIpv4(const QString &name, quint32 &address)
{
    address = 0;
    const MailServer server = serverNamed(name);
    // A name that is an address already needs no resolver.
    if (server.ipv6)
        return kNoIpv4Address;
    if (addressFamilyOf(QString::fromLatin1(server.name), &address) == AF_INET)
        return 0;
    const QByteArray &ace = server.name;
    if (ace.isEmpty())
        return kHostNotFound;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    // Addresses of a family only when this machine has one of that family itself.
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *answer = nullptr;
    int result = ::getaddrinfo(ace.constData(), nullptr, &hints, &answer);
    if (result == EAI_BADFLAGS) {
        hints.ai_flags = 0;
        result = ::getaddrinfo(ace.constData(), nullptr, &hints, &answer);
    }
    switch (result) {
    case 0:
        break;
    case EAI_NONAME:
    case EAI_FAIL:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
        return kHostNotFound;
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return kNoIpv4Address;
#endif
    default:
        return kHostLookupFailed;
    }
    int error = kNoIpv4Address;
    for (const addrinfo *entry = answer; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr) {
            address = ntohl(reinterpret_cast<const sockaddr_in *>(entry->ai_addr)->sin_addr.s_addr);
            error = 0;
            break;
        }
    }
    ::freeaddrinfo(answer);
    return error;
}

void startHostLookup(const std::shared_ptr<THostLookupShare> &share, const QString &name, quint64 serial)
{
    const THostResolver resolver = g_resolver.load();
    auto lookup = [share = share, name = name, serial, resolver]() mutable {
        quint32 address = 0;
        const int error = resolver ? resolver(name, address) : lookUpIpv4(name, address);
        {
            const std::lock_guard<std::mutex> lock(share->mutex);
            if (share->window) {
                if (serial == share->serial)
                    share->address = error == 0 ? address : 0;
                share->window->post(kHostLookupMessage, serial, quint32(error) << 16);
            }
        }
        // Everything the thread holds is let go before it counts as ended.
        share.reset();
        name = QString();
        --g_running;
    };
    ++g_running;
    try {
        std::thread(lookup).detach();
    } catch (const std::system_error &) {
        // No thread to be had: the lookup fails, and says so the way a thread would.
        --g_running;
        const std::lock_guard<std::mutex> lock(share->mutex);
        if (share->window)
            share->window->post(kHostLookupMessage, serial, quint32(kHostLookupFailed) << 16);
    }
}

int runningHostLookups()
{
    return g_running.load();
}

void setHostResolverForTesting(THostResolver resolver)
{
    g_resolver.store(resolver);
}
