// Owners of the HTTP exchange's session, connection and request: each is released once, on
// every path out of the upload, in the reverse order of its set-up.
#pragma once

#include "platform/http_exchange.h"

namespace quorel {

template <typename Handle>
class HttpHandle {
 public:
  explicit HttpHandle(Handle* handle) : handle_(handle) {}
  HttpHandle(const HttpHandle&) = delete;
  HttpHandle& operator=(const HttpHandle&) = delete;
  ~HttpHandle() {
    if (handle_ != nullptr) HttpClose(handle_);
  }

  Handle* Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  Handle* handle_;
};

using HttpSessionHandle = HttpHandle<HttpSession>;
using HttpConnectionHandle = HttpHandle<HttpConnection>;
using HttpRequestHandle = HttpHandle<HttpRequest>;

}  // namespace quorel
