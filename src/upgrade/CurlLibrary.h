#pragma once
// libcurl, loaded when the first transfer needs it rather than when the program
// starts: with the libraries it pulls in, it takes longer to load than most
// commands take to run. The functions keep libcurl's names without the "curl_".

#include <string>

#include <curl/curl.h>

struct CurlLibrary {
    CURLcode (*global_init)(long flags);
    void (*global_cleanup)();
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL* curl, CURLoption option, ...);
    CURLcode (*easy_getinfo)(CURL* curl, CURLINFO info, ...);
    CURLcode (*easy_perform)(CURL* curl);
    void (*easy_cleanup)(CURL* curl);
    const char* (*easy_strerror)(CURLcode code);
};

// The library, loaded and globally initialised at the first call (any thread), or
// null with the reason in the user-interface language in why.
const CurlLibrary* LoadCurl(std::string* why = nullptr);
// Undoes the global initialisation, if the library was loaded.
void UnloadCurl();
