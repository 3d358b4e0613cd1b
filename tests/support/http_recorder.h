// A tiny HTTP server on 127.0.0.1 for tests: it records every request it gets and answers
// each with a fixed status, or never answers at all. Pointed at by http_proxy it records
// what a program sends to any host, without anything leaving the machine.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "win/handles.h"

namespace test {

struct HttpRequest {
  std::string line;                                          // "GET /path HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received
  std::string raw;

  // The first header of that name (any case), or empty.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

class HttpRecorder {
 public:
  // Answers every request with this status ("HTTP/1.1 <status> ...", empty body), or,
  // with kNeverAnswer, reads the request and holds the connection open until the
  // recorder goes. `extraHeaders` ("Name: value\r\n" each) go into every answer.
  static constexpr int kNeverAnswer = 0;
  explicit HttpRecorder(int status = 200, std::string extraHeaders = {});
  ~HttpRecorder();
  HttpRecorder(const HttpRecorder&) = delete;
  HttpRecorder& operator=(const HttpRecorder&) = delete;

  // False when the server couldn't listen; the port is then 0.
  bool listening() const { return port_ != 0; }
  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>", the value for http_proxy.
  std::wstring ProxyUrl() const;
  // "http://127.0.0.1:<port><pathAndQuery>"
  std::wstring Url(const std::wstring& pathAndQuery) const;

  // Waits until at least count requests have been read in full.
  bool WaitForRequests(size_t count, DWORD timeoutMs);
  std::vector<HttpRequest> Requests() const;
  // Connections accepted so far, whether or not a whole request came.
  int connections() const { return connections_.load(); }

 private:
  static DWORD WINAPI ThreadProc(void* self);
  void Serve();

  const int status_;
  const std::string extraHeaders_;
  uint16_t port_ = 0;
  win::KernelHandle ready_;
  win::KernelHandle thread_;
  // Written by the recorder's owner (in the destructor); read by the server thread.
  std::atomic<bool> stop_{false};
  // Written by the server thread; read by the test.
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::condition_variable received_;
  std::vector<HttpRequest> requests_;  // under mutex_
};

// A local TCP port on 127.0.0.1 that nobody listens on: a connection there is refused.
uint16_t ClosedLoopbackPort();

// Sets (or, with null, removes) an environment variable of this process for the scope's
// life and puts the old value back afterwards. WinINet reads http_proxy from the process
// environment each time a root handle is opened.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const wchar_t* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name_;
  bool had_ = false;
  std::wstring old_;
};

}  // namespace test
