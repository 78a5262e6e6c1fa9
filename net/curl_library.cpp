#include "flipreel/net/curl_library.h"

#include <dlfcn.h>

#include <optional>
#include <string>
#include <type_traits>

#include "flipreel/host/errors.h"

namespace flipreel {

namespace {

// The library's file name for the ABI these headers describe.
constexpr char kLibraryName[] = "libcurl.so.4";

std::optional<CurlLibrary> Load(std::string& why) {
  void* handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    why = ::dlerror();
    return std::nullopt;
  }
  bool complete = true;
  auto get = [&](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name));
    if (!function) complete = false, why = std::string("no ") + name + " in " + kLibraryName;
  };
  CurlLibrary c{};
  get(c.global_init, "curl_global_init");
  get(c.easy_init, "curl_easy_init");
  get(c.easy_cleanup, "curl_easy_cleanup");
  get(c.easy_setopt, "curl_easy_setopt");
  get(c.easy_getinfo, "curl_easy_getinfo");
  get(c.easy_strerror, "curl_easy_strerror");
  get(c.multi_init, "curl_multi_init");
  get(c.multi_cleanup, "curl_multi_cleanup");
  get(c.multi_add_handle, "curl_multi_add_handle");
  get(c.multi_remove_handle, "curl_multi_remove_handle");
  get(c.multi_perform, "curl_multi_perform");
  get(c.multi_poll, "curl_multi_poll");
  get(c.multi_wakeup, "curl_multi_wakeup");
  get(c.multi_info_read, "curl_multi_info_read");
  get(c.url, "curl_url");
  get(c.url_cleanup, "curl_url_cleanup");
  get(c.url_set, "curl_url_set");
  get(c.url_strerror, "curl_url_strerror");
  // The library stays loaded for the rest of the process.
  if (!complete) return std::nullopt;
  c.global_init(CURL_GLOBAL_DEFAULT);
  return c;
}

}  // namespace

const CurlLibrary& Curl() {
  static std::string why;
  static const std::optional<CurlLibrary> library = Load(why);
  if (!library) Raise(err::kDeviceIo, "Downloads need " + std::string(kLibraryName) + ": " + why);
  return *library;
}

}  // namespace flipreel
