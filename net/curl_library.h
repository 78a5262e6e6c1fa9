// libcurl, loaded when the first download starts rather than with the
// program: libcurl and the libraries it needs take longer to load than a
// command that downloads nothing takes to run.
#pragma once

#include <curl/curl.h>

namespace flipreel {

// The libcurl functions the download engine calls.
struct CurlLibrary {
  decltype(&curl_global_init) global_init;
  decltype(&curl_easy_init) easy_init;
  decltype(&curl_easy_cleanup) easy_cleanup;
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
  CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
  decltype(&curl_easy_strerror) easy_strerror;
  decltype(&curl_multi_init) multi_init;
  decltype(&curl_multi_cleanup) multi_cleanup;
  decltype(&curl_multi_add_handle) multi_add_handle;
  decltype(&curl_multi_remove_handle) multi_remove_handle;
  decltype(&curl_multi_perform) multi_perform;
  decltype(&curl_multi_poll) multi_poll;
  decltype(&curl_multi_wakeup) multi_wakeup;
  decltype(&curl_multi_info_read) multi_info_read;
  decltype(&curl_url) url;
  decltype(&curl_url_cleanup) url_cleanup;
  decltype(&curl_url_set) url_set;
  decltype(&curl_url_strerror) url_strerror;
};

// Loads libcurl on first use (and initialises it once); raises the device
// I/O error, saying why, when it cannot be loaded.
const CurlLibrary& Curl();

}  // namespace flipreel
