// Every method through a persistent FastCGI worker against the real server
// and real boards: which source answers, the fallback between them, and the
// exact answer (ProgramTest holds the CGI form's output to the worker's,
// StatementsTest runs every method's statements as a CGI program). Times in
// the tables are Tokyo time; answers write them as UTC.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/Desk.h"

namespace {

struct MethodCase {
  Call call;
  std::string answer;
};

std::string Envelope(const std::string& status, const std::string& data = "") {
  return "{\"status\":" + status + ", \"data\":[" + data + "]}";
}

class Methods : public ::testing::Test {
 protected:
  Reply Run(Call call) {
    call.worker = &worker_;
    return Ask(call);
  }
  void SetUp() override {
    REQUIRE_PRIVATE_SHM();
    REQUIRE_DATABASE();
    std::stringstream fixture;
    fixture << std::ifstream(ZELVORA_SOURCE_DIR "/tests/desk/Methods.sql").rdbuf();
    std::string sql = fixture.str();
    for (auto at = sql.find("{ID}"); at != std::string::npos; at = sql.find("{ID}", at))
      sql.replace(at, 4, id_);
    RunSql({sql});
  }
  void TearDown() override {
    RemoveBoardsMarked(id_);
    RemoveBoardsMarked("offer");
    if (DatabaseEnv() == nullptr) return;
    Lines sql = {"DELETE FROM `Offer`"};
    for (const char* table : {"Account", "Trade", "TsContext", "ImplPlan", "ImplPlanAudit"})
      sql.push_back("DELETE FROM `" + std::string(table) + "` WHERE AccountID LIKE '" + id_ + "%'");
    RunSql(sql);
  }

  void Expect(const std::vector<MethodCase>& cases) {
    for (const MethodCase& c : cases) {
      EXPECT_EQ(Run(c.call).answer, c.answer)
          << RequestBody(c.call.method, c.call.params) << " "
          << (c.call.selDb ? c.call.selDb : "unset") << c.call.host;
    }
  }
  void Board(const std::string& key, const std::string& header, const Lines& records,
             int32_t size = kAccountBoard.size, const char* index = kOfferIndex) {
    ASSERT_EQ(WriteBoard(key, BoardImage(size, header, key == "offer" ? 4000 : 0,
                                         key == "offer" ? index : "", 200, records)),
              0)
        << key;
  }
  // The test account's rows of `table`: `columns` joined by "|".
  Lines Rows(const std::string& columns, const std::string& table = "ImplPlan",
             const char* order = "Symbol") {
    return QueryRows("SELECT " + columns + " FROM `" + table + "` WHERE AccountID='" + id_ +
                     "' ORDER BY " + order);
  }
  // One accountid element for each blank-separated suffix of the test's id ("-": none).
  std::string Accounts(const std::string& suffixes) {
    std::string params, suffix;
    for (std::istringstream in(suffixes); in >> suffix;)
      params += "<accountid>" + id_ + (suffix == "-" ? "" : suffix) + "</accountid>";
    return params;
  }

  const std::string id_ = "zt" + std::to_string(getpid());
  static constexpr const char* kOfferIndex = "{\"EURUSD\":0,\"USD/JPY\":1,\"GBPUSD\":2}";
  const std::string fromTable_ =
      "{\"AccountID\":\"" + id_ +
      "a\",\"Balance\":1000.000000,\"Equity\":1010.500000,\"DayPL\":-2.000000,\"UsedMargin\":40."
      "000000,\"UsableMargin\":970.500000,\"GrossPL\":10.500000,\"Hedging\":\"Y\"}";
  // An offer row of the table: "ID\",\"Symbol\":..\"Ask\":A", PointSize, the second of its time.
  static std::string Offer(const std::string& head, const std::string& point, char second) {
    return "{\"OfferID\":\"" + head +
           ",\"High\":0.000000,\"Low\":0.000000,\"PipCost\":0.000000,\"PointSize\":" + point +
           ",\"Time\":\"2026/12/05 00:30:0" + second + "\"}";
  }
  const std::string eurRow_ =
      Offer("1\",\"Symbol\":\"EURUSD\",\"Bid\":1.084200,\"Ask\":1.084400", "0.000100", '0');
  const std::string jpyRow_ =
      Offer("2\",\"Symbol\":\"USDJPY\",\"Bid\":151.320000,\"Ask\":151.340000", "0.010000", '1');
  // The open trades' zero close time is refused by the date parser and written as -1.
  static std::string Trade(const std::string& head, const std::string& open, const std::string& pl,
                           const std::string& time) {
    const std::string never = "\"1969/12/31 23:59:59\"";
    return "{\"TradeID\":\"" + head + ",\"Open\":" + open +
           ",\"Close\":0.000000,\"Stop\":0.000000,\"Limit\":0.000000,\"High\":0.000000,\"Low\":0."
           "000000,\"PL\":" +
           pl + ",\"GrossPL\":0.000000,\"OpenTime\":\"2026/12/0" + time +
           "\",\"CloseTime\":" + never +
           ",\"MaxSumPL\":0.000000,\"MaxSumPLCount\":0,\"MaxSumPLTime\":" + never +
           ",\"CurSumPL\":0.000000,\"CurSumPLCount\":0,\"TradeMethodPeriod\":\"\","
           "\"TradeMethodName\":\"\",\"TrailStopPeriod\":\"\",\"TrailStopName\":\"\","
           "\"TrailMoveTsName\":\"\"}";
  }
  const std::string trade1_ =
      Trade("1\",\"Symbol\":\"EURUSD\",\"Amount\":10000.000000,\"BS\":\"B\"", "1.080000",
            "12.500000", "1 00:00:00");
  const std::string trade2_ = Trade("2\",\"Symbol\":\"USDJPY\",\"Amount\":5000.000000,\"BS\":\"S\"",
                                    "151.200000", "-3.000000", "3 01:00:00");
  CWorker worker_;
  const std::string context_ =
      ", "
      "\"data2\":[{\"TradeID\":\"1\",\"TradeMethodPeriod\":\"H1\",\"TradeMethodName\":\"MA-Cross\","
      "\"TrailStopPeriod\":\"M15\",\"TrailStopName\":\"ATR\",\"TrailMoveTsName\":\"Step\"}]}";
};

TEST_F(Methods, GetAccountTakesTheBoardFirstThenTheTable) {
  const std::string seven = "{\"AccountID\":\"" + id_ + "7\",\"Balance\":7}",
                    onBoard = "{\"AccountID\":\"" + id_ + "b\"}";
  // 7 is not 70 nor 700; a record with a nested object is passed over whole.
  Board("account." + id_ + "7", "     3   200",
        {"{\"AccountID\":\"" + id_ + "700\",\"Sub\":{\"AccountID\":\"" + id_ + "7\"}}",
         "{\"AccountID\":\"" + id_ + "70\"}", seven});
  Board("account." + id_ + "b", "     1   200", {onBoard});
  Board("account." + id_ + "c", "     1   200", {"{\"AccountID\":\"x\"}"});
  const std::string table = "{\"status\":0, \"data\":" + fromTable_ + "}";
  // No board and no database (unset, unreachable): StatementsTest.
  Expect({
      {{"getAccount", Accounts("7")}, "[{\"status\":0, \"data\":" + seven + "}]"},
      // neither board nor row
      {{"getAccount", Accounts("-")}, "[]"},
      // a readable board without the record: the table is not asked
      {{"getAccount", Accounts("c")}, "[]"},
      {{"getAccount", Accounts("a")}, "[" + table + "]"},
      // An id that is a JSON number stays one; any other is a JSON string, however it is made.
      {{"getAccount",
        "<accountid>0012</accountid><accountid>-1.5e+3</accountid>"
        "<accountid>1}],\"x\":[{\"a\\</accountid>",
        "0"},
       "[{\"status\":1, "
       "\"data\":{\"AccountID\":\"0012\"}},{\"status\":1, \"data\":{\"AccountID\":-1.5e+3}},"
       "{\"status\":1, \"data\":{\"AccountID\":\"1}],\\\"x\\\":[{\\\"a\\\\\"}}]"},
      // No row: nothing, not even a separator; a nested accountid is not one of params.
      {{"getAccount", Accounts("- a") + "<x>" + Accounts("b") + "</x>" + Accounts("b -")},
       "[" + table + ",{\"status\":0, \"data\":" + onBoard + "}]"},
      {{"getAccount", std::nullopt}, "[]"},
  });
}

TEST_F(Methods, GetOfferReadsTheIndexOrFallsBackToTheTable) {
  const std::string eur = "{\"Symbol\":\"EURUSD\",\"Bid\":1.08}",
                    jpy = "{\"Symbol\":\"USD/JPY\",\"Bid\":151.3}",
                    gbp = "{\"Symbol\":\"GBPUSD\",\"Bid\":1.27}";
  Board("offer", "     3   200", {eur, jpy, gbp}, kOfferBoard.size);
  Expect({
      // In the order asked; a symbol the index lacks is passed over.
      {{"getOffer", "<symbol>USD/JPY</symbol><symbol>CHFJPY</symbol><symbol>EURUSD</symbol>"},
       Envelope("0", jpy + "," + eur)},
      {{"getOffer", std::nullopt}, Envelope("0", eur + "," + jpy + "," + gbp)},
  });
  Board("offer", "     1   200", {eur}, kOfferBoard.size, "EURUSD=0");
  const Reply broken = Run({"getOffer", "<symbol>EURUSD</symbol>"});
  EXPECT_EQ(broken.answer, Envelope("0", eurRow_))
      << "a broken index falls back like a missing board";
  EXPECT_EQ(broken.result.err.substr(0, 52),
            "filename[src/desk/Zelvora], line[115] malloc error. ");
  // without symbols the index is not read
  Expect({{{"getOffer", std::nullopt}, Envelope("0", eur)}});
  RemoveBoardsMarked("offer");
  Expect({
      // by OfferID
      {{"getOffer", "<symbol>USDJPY</symbol><symbol>EURUSD</symbol>"},
       Envelope("0", eurRow_ + "," + jpyRow_)},
      {{"getOffer", "<symbol>EURUSD</symbol>", nullptr}, Envelope("1")},
  });
}

TEST_F(Methods, GetOpenTradeTakesTheBoardOrOpenTradesAndTheContextAlways) {
  const std::string account = Accounts("-");
  const std::string both = trade1_ + "," + trade2_;
  Expect({
      {{"getOpenTrade", account}, Envelope("0", both)},
      {{"getOpenTrade", ("<symbol>EURUSD</symbol>" + account)}, Envelope("1")},
      {{"getOpenTrade", ""}, "(banner)"},
      {{"getOpenTradeA", account}, "{\"status\":0, \"data\":[" + both + "]" + context_},
      {{"getOpenTradeA", account, "1", Call::kServer, "127.0.0.1:1"}, Envelope("1")},
  });
  Board("trade." + id_, "     2   200", {"{\"TradeID\":\"b1\"}", "{\"TradeID\":\"b2\"}"},
        kTradeBoard.size);
  Expect({{{"getOpenTrade", account}, Envelope("0", "{\"TradeID\":\"b1\"},{\"TradeID\":\"b2\"}")}});
  Board("trade." + id_, "     0   200", {}, kTradeBoard.size);
  Expect({{{"getOpenTrade", account}, Envelope("0")},
          {{"getOpenTradeA", account, nullptr}, "{\"status\":0, \"data\":[]" + context_}});
  RunSql({"UPDATE `TsContext` SET TradeMethodName='' WHERE AccountId='" + id_ + "'"});
  // no context with a method: no "data2"
  Expect({{{"getOpenTradeA", account, nullptr}, Envelope("0")}});
}

TEST_F(Methods, ImplPlansAreListedAndWrittenAllOrNothing) {
  const std::string a = Accounts("-");
  // (The last getImplPlan below reads both plans in their order.)
  Expect({
      {{"setImplPlan",
        (a + Param("EURUSD", "<ip2>2.5</ip2><ip5>60</ip5><loginid>trader7</loginid>") +
         "<param><loginid>no symbol</loginid></param>" + Param("USDJPY", "<ip1>0.4</ip1>"))},
       "ok"},
  });
  const Lines written = {"EURUSD|2.5|60|30|trader7", "USDJPY|0.4|0.8|20|"};
  const std::string plans = "Symbol, IP1, IP2, IP3, upd_user_id";
  EXPECT_EQ(Rows(plans), written);
  // A plan deleted meanwhile refuses the whole write; a plan written with the values it holds is
  // there all the same.
  const std::string same = Param("EURUSD", "<ip1>2.5</ip1><ip2>60</ip2><loginid>trader7</loginid>");
  // A statement the server refuses rolls the ones before it back: the access rules' test holds it.
  Expect({{{"setImplPlan", (a + Param("EURUSD", "<ip1>7</ip1>") + Param("GONE", "<ip1>7</ip1>"))},
           "(banner)"},
          {{"setImplPlan", (a + same + same)}, "ok"}});
  EXPECT_EQ(Rows(plans), written);
  // Values come back as stored, whatever they hold: none can forge a member.
  Expect(
      {{{"setImplPlan", (a + Param("USDJPY", "<ip1>x\",\"IP3\":\"injected</ip1><ip2>0.8</ip2>"))},
        "ok"}});
  RunSql(
      {"UPDATE `ImplPlan` SET IP2=CONCAT('C:', CHAR(92), 'd', CHAR(9), '1', CHAR(10), CHAR(31)) "
       "WHERE AccountID='" +
       id_ + "' AND Symbol='USDJPY'"});
  Expect(
      {{{"getImplPlan", a},
        "[" + PlanJson("EURUSD", {"2.5", "60", "30"}) + "," +
            PlanJson("USDJPY", {"x\\\",\\\"IP3\\\":\\\"injected", "C:\\\\d\\t1\\n\\u001f", "20"}) +
            "]"}});
}

TEST_F(Methods, AccessRulesHideOthersAccountsAndRecordWhoChangedWhat) {
  const std::string path = "/tmp/zelvora-access-" + id_, a = Accounts("-");
  std::ofstream(path) << "alice trade " + id_ + " " + id_ + "a\nbob read " + id_ +
                             "\nmallory read elsewhere\ndesk trade *\n";
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  // a worker takes the grants file from its own environment only
  CWorker guarded({"ZELVORA_ACCESS=" + path});
  const auto as = [&](const std::string& user, Lines more = {}) {
    more.push_back("REMOTE_USER=" + user);
    return more;
  };
  const auto ask = [&](const std::string& method, const std::string& params, const Lines& env,
                       const char* selDb = "1", const std::string& host = "") {
    return Ask({method, params, selDb, Call::kServer, host, "", "", env, &guarded});
  };
  const std::string plans = "Symbol, IP1, IP2, upd_user_id";
  const auto audit = [&] {
    return Rows("ChangedBy, Symbol, OldValues, NewValues", "ImplPlanAudit", "AuditID");
  };
  const Lines before = Rows(plans),
              fromPage = {"HTTP_X_ZELVORA_REQUEST=1", "HTTP_ORIGIN=https://desk.example:8443",
                          "HTTP_HOST=desk.example:8443"};
  const std::string write =
      a + Param("EURUSD", "<ip1>0.5</ip1><ip2>2.0</ip2><loginid>mallory</loginid>") +
      Param("USDJPY", "<ip1>0.4</ip1>");
  // A write that fails in its second plan leaves plans and audit as they were.
  EXPECT_EQ(ask("setImplPlan", write + Param("USDJPY", "<ip2>" + std::string(70, '9') + "</ip2>"),
                as("alice", fromPage))
                .answer,
            "(banner)");
  EXPECT_EQ(Rows(plans), before);
  EXPECT_EQ(audit(), Lines());
  // An accepted write records its caller, not the request's updater, and one audit row per plan
  // with what changed.
  EXPECT_EQ(ask("setImplPlan", write, as("alice", fromPage)).answer, "ok");
  EXPECT_EQ(Rows(plans), Lines({"EURUSD|0.5|2.0|alice", "USDJPY|0.4|0.8|alice"}));
  EXPECT_EQ(audit(), Lines({"alice|EURUSD|{\"IP2\":\"1.0\"}|{\"IP2\":\"2.0\"}",
                            "alice|USDJPY|{\"IP1\":\"0.3\"}|{\"IP1\":\"0.4\"}"}));
  // Without access rules the updater is the request's (ImplPlans above) and nothing is audited
  // (StatementsTest: the transaction's exact statements).
  // The id and the time are the server's: the time is checked for its form only.
  EXPECT_EQ(
      std::regex_replace(
          ask("getPlanHistory", a + "<limit>1</limit>", as("bob")).answer,
          std::regex(
              "\"AuditID\":\\d+,\"ChangedAt\":\"\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\""),
          "\"AuditID\":0,\"ChangedAt\":\"T\""),
      Envelope(
          "0",
          "{\"AuditID\":0,\"ChangedAt\":\"T\",\"ChangedBy\":\"alice\",\"AccountID\":\"" + id_ +
              "\",\"Symbol\":\"USDJPY\",\"Old\":{\"IP1\":\"0.3\"},\"New\":{\"IP1\":\"0.4\"}}"));
  EXPECT_EQ(ask("whoAmI", "", as("bob")).answer,
            "{\"status\":0, \"data\":{\"User\":\"bob\",\"Read\":[\"" + id_ + "\"],\"Trade\":[]}}");
  EXPECT_NE(ask("whoAmI", "", as("desk")).answer.find("\"Trade\":[\"" + id_ + "a\""),
            std::string::npos)
      << "* is every account of the database";
  // Every read of an account the caller may not read is answered as a read of one that does not
  // exist, with the database standing in for boards, not standing in, and out of reach.
  for (const auto& [selDb, host] :
       {std::pair<const char*, std::string>{"1", ""}, {nullptr, ""}, {"1", "127.0.0.1:1"}}) {
    for (const std::string method :
         {"getAccount", "getOpenTrade", "getOpenTradeA", "getClosedTrade", "getReport",
          "getImplPlan", "getPlanHistory"}) {
      const std::string report = method == "getReport" ? "<rpttype>2</rpttype>" : "",
                        suffix = method == "getAccount" ? "a" : "",
                        what = method + " " + (selDb ? selDb : "(unset)") + " " + host;
      const std::string mine = "<accountid>" + id_ + suffix + "</accountid>" + report;
      const Reply hidden = ask(method, mine, as("mallory"), selDb, host);
      const std::string missing =
          ask(method, Accounts("zz") + report, as("desk"), selDb, host).answer;
      EXPECT_EQ(hidden.answer, std::regex_replace(missing, std::regex(id_ + "zz"), id_ + suffix))
          << what;
      EXPECT_NE(hidden.answer, host.empty() && selDb ? ask(method, mine, as("alice")).answer : "")
          << what << ": the owner sees the data";
      EXPECT_NE(hidden.result.err.find("Access refused: user mallory may not read account " + id_ +
                                       suffix),
                std::string::npos)
          << what << hidden.result.err;
    }
  }
  std::remove(path.c_str());
}

}  // namespace
