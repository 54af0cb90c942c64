// The program as a web server runs it: exact environment, exact standard
// input, and every byte of standard output and standard error.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/Boards.h"
#include "support/Process.h"

namespace {

const std::string kBannerAnswer =
    "Content-Type: text/plain \n\nZelvora 1.0 - foreign-exchange desk service\n";

ProcessResult RunCgi(std::vector<std::string> env, const std::string& input = "",
                  std::vector<std::string> args = {}) {
  ProcessLaunch launch;
  launch.program = ZELVORA_CGI;
  launch.args = std::move(args);
  launch.env = std::move(env);
  launch.input = input;
  return RunProcess(launch);
}

std::vector<std::string> CgiEnv(const std::string& body, const std::string& limit = "65536") {
  return {"CONTENT_LENGTH=" + std::to_string(body.size()), "MAX_CONTENT_LENGTH=" + limit};
}

void ExpectBanner(const ProcessResult& result, const std::string& what) {
  EXPECT_EQ(result.out, kBannerAnswer) << what;
  EXPECT_EQ(result.err, "") << what;
  EXPECT_EQ(result.status, 0) << what;
}

TEST(VersionSwitch, AnswersTheBannerWithNoEnvironment) {
  for (const char* arg : {"-v", "-vx", "-verbose"}) {
    ExpectBanner(RunCgi({}, "", {arg}), arg);
  }
}

TEST(VersionSwitch, IsOnlyTheSoleArgument) {
  // With two arguments the switch is not looked at: the request is read.
  const std::string body = "<zelvora><method>getOrder</method></zelvora>";
  ExpectBanner(RunCgi(CgiEnv(body), body, {"-v", "x"}), "two arguments");
  ExpectBanner(RunCgi(CgiEnv(body), body, {"v"}), "no dash");
}

TEST(BodyLength, RefusalsAnswerTheBanner) {
  const std::string body = "<zelvora><method>getOffer</method></zelvora>";
  const std::vector<std::vector<std::string>> envs = {
      {},
      {"CONTENT_LENGTH=0", "MAX_CONTENT_LENGTH=1000"},
      {"CONTENT_LENGTH=-5", "MAX_CONTENT_LENGTH=1000"},
      {"CONTENT_LENGTH=abc", "MAX_CONTENT_LENGTH=1000"},
      {"CONTENT_LENGTH=44"},
      {"CONTENT_LENGTH=44", "MAX_CONTENT_LENGTH=44"},
      {"CONTENT_LENGTH=44", "MAX_CONTENT_LENGTH=-1"},
  };
  for (const auto& env : envs) {
    std::string what;
    for (const auto& var : env) what += var + " ";
    ExpectBanner(RunCgi(env, body), what);
  }
}

TEST(RequestBody, EveryUnservableRequestAnswersTheBannerOnce) {
  const std::string bodies[] = {
      "<zelvora><method>getOrder</method></zelvora>",
      "<zelvora><method>noSuchMethod</method><params/></zelvora>",
      "<zelvora><method>GETACCOUNT</method></zelvora>",
      "<request><zelvora><method>getOffer</method></zelvora></request>",
      "<zelvora><params><symbol>EURUSD</symbol></params></zelvora>",
      "not markup at all",
      std::string("\0\xff<\x81<>>\0<!--", 13),
      "<zelvora><method>getOrder</method>",
      "<zelvora><method>getPriceBar</method></zelvora>",  // no params: no answer
  };
  for (const auto& body : bodies) {
    ExpectBanner(RunCgi(CgiEnv(body), body), ::testing::PrintToString(body));
  }
}

TEST(RequestBody, ShortOrLongInputIsTakenAsItComes) {
  // A price-bar request names its board in its answer's diagnostic, which
  // shows how much of the body was read.
  const std::string body =
      "<zelvora><method>getPriceBar</method><params><symbol>Q" + std::to_string(getpid()) +
      "</symbol><period>1</period></params></zelvora>";
  const std::string key = "pricebar.Q" + std::to_string(getpid());
  const std::string served = "Content-Type: text/plain \n\n{\"status\":1, \"data\":[]}";
  const std::string missing = "] open failed.\n[2] No such file or directory\n";
  // Announced longer than sent: parsed as far as it arrived.
  ProcessResult result = RunCgi({"CONTENT_LENGTH=5000", "MAX_CONTENT_LENGTH=6000"}, body);
  EXPECT_EQ(result.out, served);
  EXPECT_EQ(result.err, "ShareMemory[" + key + "1" + missing);
  // Far more sent than announced: the rest is left unread.
  result = RunCgi(CgiEnv(body), body + std::string(1 << 20, 'x'));
  EXPECT_EQ(result.out, served);
  // Announced shorter than sent: the period's text is cut off.
  const std::string cut = body.substr(0, body.find("</period>"));
  result = RunCgi(CgiEnv(cut), body);
  EXPECT_EQ(result.out, served);
  EXPECT_EQ(result.err, "ShareMemory[" + key + missing);
  EXPECT_EQ(result.status, 0);
  // Nothing sent at all.
  ExpectBanner(RunCgi({"CONTENT_LENGTH=10", "MAX_CONTENT_LENGTH=11"}, ""), "empty");
  RemoveBoardsMarked(key);
}

TEST(RequestBody, AllocationFailureIsReportedOnStandardError) {
#ifdef ZELVORA_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime cannot start under an address-space limit";
#endif
  ProcessLaunch launch;
  launch.program = ZELVORA_CGI;
  launch.env = {"CONTENT_LENGTH=1500000000", "MAX_CONTENT_LENGTH=2000000000"};
  launch.addressLimit = 256L << 20;
  const ProcessResult result = RunProcess(launch);
  EXPECT_EQ(result.out, kBannerAnswer);
  EXPECT_EQ(result.err, std::string("filename[src/Main], line[90] malloc error. [") +
                            std::to_string(ENOMEM) + "] " + std::strerror(ENOMEM) + "\n");
  EXPECT_EQ(result.status, 0);
}

}  // namespace

namespace {

TEST(ProgramLinkage, LinksNothingItCanLoadLater) {
  ProcessLaunch launch;
  launch.program = "/usr/bin/readelf";
  launch.args = {"-d", ZELVORA_CGI};
  const ProcessResult result = RunProcess(launch);
  ASSERT_EQ(result.status, 0) << result.err;
  // A run path would send the loader through the program's folder for libc.
  EXPECT_EQ(result.out.find("runpath"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("rpath"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("libmysqlpp"), std::string::npos) << result.out;
#ifndef ZELVORA_SANITIZED
  // The C++ runtime is linked in: loading it would cost every request.
  EXPECT_EQ(result.out.find("libstdc++"), std::string::npos) << result.out;
#endif
}

}  // namespace
