// Test support: a minimal HTTP/1.0 client on loopback that keeps every byte
// of the response.
#ifndef ZELVORA_TESTS_SUPPORT_HTTP_H_
#define ZELVORA_TESTS_SUPPORT_HTTP_H_

#include <string>
#include <vector>

struct HttpResponse {
  std::string raw;                   // everything the server sent
  std::string statusLine;            // without its line end
  std::vector<std::string> headers;  // "Name: value", in order, line ends removed
  std::string body;
  bool ok = false;                   // a whole response was read
};

// POSTs `body` to http://127.0.0.1:PORT/PATH with Content-Length, and reads
// until the server closes. A failed connection gives ok false.
HttpResponse HttpPost(int port, const std::string& path, const std::string& body);

// The value of header `name` (exact case), or "(none)".
std::string HeaderValue(const HttpResponse& response, const std::string& name);

// A port on 127.0.0.1 that nothing listens on now.
int FreePort();

#endif  // ZELVORA_TESTS_SUPPORT_HTTP_H_
