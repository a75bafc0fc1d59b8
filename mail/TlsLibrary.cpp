#include "mail/TlsLibrary.h"

#include <dlfcn.h>

const char *const kTlsLibraryName = "libssl.so.3";

namespace {

TTlsLibrary g_library;
bool g_loaded = false;
const char *g_fileName = kTlsLibraryName;

// Fills the table from `handle`; the name of the first function it lacks, else nullptr.
const char *resolve(void *handle, TTlsLibrary &table)
{
    const char *missing = nullptr;
#define PANTEL_TLS_RESOLVE(name)                                                                                       \
    table.name = reinterpret_cast<decltype(table.name)>(::dlsym(handle, #name));                                       \
    if (!table.name && !missing)                                                                                       \
        missing = #name;
    PANTEL_TLS_FUNCTIONS(PANTEL_TLS_RESOLVE)
#undef PANTEL_TLS_RESOLVE
    return missing;
}

} // namespace

QString loadTlsLibrary()
{
    if (g_loaded)
        return {};
    // The library stays loaded for the rest of the process: sessions, the BIO method and
    // OpenSSL's own state refer to it, and a second check needs it again.
    void *handle = ::dlopen(g_fileName, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return QStringLiteral("TLS: the OpenSSL library (%1) could not be loaded").arg(QString::fromUtf8(g_fileName));
    TTlsLibrary table;
    if (const char *missing = resolve(handle, table)) {
        ::dlclose(handle);
        return QStringLiteral("TLS: the OpenSSL library (%1) lacks %2")
            .arg(QString::fromUtf8(g_fileName), QString::fromUtf8(missing));
    }
    g_library = table;
    g_loaded = true;
    return {};
}

const TTlsLibrary &tlsLibrary()
{
    return g_library;
}

void setTlsLibraryFileForTesting(const char *fileName)
{
    g_fileName = fileName ? fileName : kTlsLibraryName;
    g_loaded = false;
}
