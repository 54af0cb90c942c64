// Test support: zelvora.cgi run as a web server runs it, for the method
// tests. The environment is built from scratch: the CGI variables, TZ, and
// what each test adds; MYSQL_* come from the test's settings when asked.
#ifndef ZELVORA_TESTS_SUPPORT_CGI_H_
#define ZELVORA_TESTS_SUPPORT_CGI_H_

#include <string>
#include <vector>

#include "support/Database.h"
#include "support/Process.h"

extern const char kAnswerHeader[];  // "Content-Type: text/plain \n\n"

// <zelvora><method>M</method><params>P</params></zelvora>, every byte of
// P kept; without "params" when `params` is null.
std::string RequestBody(const std::string& method, const std::string& params);
std::string RequestBody(const std::string& method, const char* params);

struct CgiOptions {
  const char* shmSelDb = "1";             // null: unset
  const DatabaseSettings* database = nullptr;  // MYSQL_* from here
  std::string host;                       // overrides the settings' host
  std::string fakeLog;                    // use the recording library, logging here
  std::string fakeRows;                   // its rows file
  std::string fakeFail;                   // its failing call
  std::vector<std::string> env;           // anything more
};

ProcessResult RunCgi(const std::string& body, const CgiOptions& options);

// The recording library's log: its lines, read and removed.
std::vector<std::string> TakeFakeLog(const std::string& path);

// A fresh file path under the test's temporary directory.
std::string TempPath(const std::string& name);

#endif  // ZELVORA_TESTS_SUPPORT_CGI_H_

// What follows the header in a served answer; "(banner)" for the banner
// answer and "(no header)" for anything else.
std::string AnswerOf(const ProcessResult& result);
