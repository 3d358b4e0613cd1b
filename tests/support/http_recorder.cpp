#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/http_recorder.h"

#include <chrono>
#include <cwchar>

namespace test {

namespace {

constexpr char kHeaderEnd[] = "\r\n\r\n";

// Winsock for the life of the object.
struct WinsockScope {
  WinsockScope() {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockScope() {
    if (ok) WSACleanup();
  }
  bool ok = false;
};

class Socket {
 public:
  explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
  ~Socket() { reset(); }
  Socket(Socket&& other) noexcept : s_(other.s_) { other.s_ = INVALID_SOCKET; }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return s_; }
  explicit operator bool() const { return s_ != INVALID_SOCKET; }
  void reset() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
    s_ = INVALID_SOCKET;
  }

 private:
  SOCKET s_;
};

bool Readable(SOCKET s, long timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait = {0, timeoutMs * 1000};
  return select(0, &set, nullptr, nullptr, &wait) == 1;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

uint16_t LocalPort(SOCKET s) {
  sockaddr_in address = {};
  int length = sizeof address;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

HttpRequest Parse(const std::string& raw) {
  HttpRequest request;
  request.raw = raw;
  size_t start = 0;
  for (bool first = true;; first = false) {
    const size_t end = raw.find("\r\n", start);
    if (end == std::string::npos || end == start) break;
    const std::string line = raw.substr(start, end - start);
    start = end + 2;
    if (first) {
      request.line = line;
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    size_t value = colon + 1;
    while (value < line.size() && line[value] == ' ') ++value;
    request.headers.emplace_back(line.substr(0, colon), line.substr(value));
  }
  return request;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
  for (const auto& header : headers)
    if (EqualNoCase(header.first, name)) return header.second;
  return {};
}

bool HttpRequest::HasHeader(const std::string& name) const {
  for (const auto& header : headers)
    if (EqualNoCase(header.first, name)) return true;
  return false;
}

HttpRecorder::HttpRecorder(int status, std::string extraHeaders)
    : status_(status), extraHeaders_(std::move(extraHeaders)), ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  thread_.reset(CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr));
  // The server thread signals once it listens (or has given up).
  if (thread_) WaitForSingleObject(ready_.get(), 10000);
}

HttpRecorder::~HttpRecorder() {
  stop_ = true;
  if (thread_) WaitForSingleObject(thread_.get(), 10000);
}

std::wstring HttpRecorder::ProxyUrl() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

std::wstring HttpRecorder::Url(const std::wstring& pathAndQuery) const { return ProxyUrl() + pathAndQuery; }

bool HttpRecorder::WaitForRequests(size_t count, DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return received_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= count; });
}

std::vector<HttpRequest> HttpRecorder::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

DWORD WINAPI HttpRecorder::ThreadProc(void* self) {
  static_cast<HttpRecorder*>(self)->Serve();
  return 0;
}

void HttpRecorder::Serve() {
  WinsockScope winsock;
  Socket listener(winsock.ok ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET);
  const sockaddr_in address = Loopback(0);
  if (!listener || bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener.get(), SOMAXCONN) != 0) {
    SetEvent(ready_.get());
    return;
  }
  port_ = LocalPort(listener.get());
  SetEvent(ready_.get());

  std::vector<Socket> held;  // connections that are never answered
  while (!stop_) {
    if (!Readable(listener.get(), 50)) continue;
    Socket client(accept(listener.get(), nullptr, nullptr));
    if (!client) continue;
    ++connections_;

    // Read up to the end of the headers (a GET has no body), giving up after 10 s.
    std::string raw;
    const ULONGLONG deadline = GetTickCount64() + 10000;
    bool closed = false;
    while (!stop_ && !closed && raw.find(kHeaderEnd) == std::string::npos && GetTickCount64() < deadline) {
      if (!Readable(client.get(), 50)) continue;
      char buffer[4096];
      const int got = recv(client.get(), buffer, sizeof buffer, 0);
      if (got <= 0)
        closed = true;
      else
        raw.append(buffer, got);
    }
    if (raw.find(kHeaderEnd) != std::string::npos) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(Parse(raw));
      }
      received_.notify_all();
    }

    if (status_ == kNeverAnswer) {
      held.push_back(std::move(client));
      continue;
    }
    const std::string response = "HTTP/1.1 " + std::to_string(status_) + " " + Reason(status_) + "\r\n" +
                                 extraHeaders_ + "Content-Length: 0\r\nConnection: close\r\n\r\n";
    send(client.get(), response.data(), static_cast<int>(response.size()), 0);
    shutdown(client.get(), SD_SEND);
  }
}

uint16_t ClosedLoopbackPort() {
  WinsockScope winsock;
  if (!winsock.ok) return 0;
  Socket probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const sockaddr_in address = Loopback(0);
  if (!probe || bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 0;
  // Bound but never listening, then closed: the port is free and refuses connections.
  return LocalPort(probe.get());
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size > 0) {
    old_.resize(size);
    const DWORD length = GetEnvironmentVariableW(name, &old_[0], size);
    old_.resize(length);
    had_ = true;
  }
  SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }

}  // namespace test
