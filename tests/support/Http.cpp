#include "support/Http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void Split(HttpResponse& response) {
  const auto end = response.raw.find("\r\n\r\n");
  if (end == std::string::npos) return;
  response.body = response.raw.substr(end + 4);
  std::string head = response.raw.substr(0, end);
  size_t at = 0;
  for (bool first = true;; first = false) {
    const auto next = head.find("\r\n", at);
    const std::string line = head.substr(at, next == std::string::npos ? std::string::npos : next - at);
    if (first) {
      response.statusLine = line;
    } else {
      response.headers.push_back(line);
    }
    if (next == std::string::npos) break;
    at = next + 2;
  }
  response.ok = true;
}

}  // namespace

HttpResponse HttpPost(int port, const std::string& path, const std::string& body) {
  HttpResponse response;
  const int fd = Connect(port);
  if (fd < 0) return response;
  const std::string request = "POST " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                              "Content-Type: text/xml\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
  if (SendAll(fd, request)) {
    char buffer[16384];
    for (;;) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      response.raw.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  Split(response);
  return response;
}

std::string HeaderValue(const HttpResponse& response, const std::string& name) {
  for (const std::string& header : response.headers) {
    if (header.compare(0, name.size() + 2, name + ": ") == 0) return header.substr(name.size() + 2);
  }
  return "(none)";
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}
