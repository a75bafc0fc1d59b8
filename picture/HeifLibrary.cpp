#include "picture/HeifLibrary.h"

#include <dlfcn.h>

namespace {

const HeifLibrary *load()
{
    // The library stays loaded for the rest of the process: its decoder plugins and
    // their threads stay with it.
    void *handle = ::dlopen("libheif.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    static HeifLibrary table;
    bool complete = true;
#define PANTEL_HEIF_RESOLVE(name)                                                                                      \
    table.name = reinterpret_cast<decltype(table.name)>(::dlsym(handle, #name));                                       \
    complete = complete && table.name;
    PANTEL_HEIF_FUNCTIONS(PANTEL_HEIF_RESOLVE)
#undef PANTEL_HEIF_RESOLVE
    if (!complete) {
        ::dlclose(handle);
        return nullptr;
    }
    return &table;
}

} // namespace

const HeifLibrary *heifLibrary()
{
    static const HeifLibrary *const library = load();
    return library;
}
