#include "upgrade/CurlLibrary.h"

#include <dlfcn.h>

#include <mutex>

#include "app/StringTable.h"

namespace {

std::once_flag loadOnce;
CurlLibrary library;
bool loaded = false;
std::string failure;

template <typename T>
bool Resolve(void* handle, const char* name, T& function)
{
    function = reinterpret_cast<T>(dlsym(handle, name));
    if (function == nullptr)
        failure = FormatStringText(TEXT_NET_LIBRARY_UNUSABLE, "libcurl.so.4", name);
    return function != nullptr;
}

void Load()
{
    // Kept loaded until the program ends: libcurl's global state lives in it.
    void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        failure = FormatStringText(TEXT_NET_LIBRARY_MISSING, "libcurl.so.4", reason ? reason : "");
        return;
    }
    CurlLibrary l{};
    if (!Resolve(handle, "curl_global_init", l.global_init) || !Resolve(handle, "curl_global_cleanup", l.global_cleanup) ||
        !Resolve(handle, "curl_easy_init", l.easy_init) || !Resolve(handle, "curl_easy_setopt", l.easy_setopt) ||
        !Resolve(handle, "curl_easy_getinfo", l.easy_getinfo) || !Resolve(handle, "curl_easy_perform", l.easy_perform) ||
        !Resolve(handle, "curl_easy_cleanup", l.easy_cleanup) || !Resolve(handle, "curl_easy_strerror", l.easy_strerror))
        return;
    if (l.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        failure = LoadStringText(TEXT_NET_INIT_FAILED);
        return;
    }
    library = l;
    loaded = true;
}

}  // namespace

const CurlLibrary* LoadCurl(std::string* why)
{
    std::call_once(loadOnce, Load);
    if (!loaded && why != nullptr)
        *why = failure;
    return loaded ? &library : nullptr;
}

void UnloadCurl()
{
    if (loaded) {
        library.global_cleanup();
        loaded = false;
    }
}
