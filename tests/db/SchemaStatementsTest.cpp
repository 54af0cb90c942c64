// Every statement builder of every record class, run once against the real
// server with sql/schema.sql: insert, select back, update, delete. This is
// where builders and schema have to agree.
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

#include "db/TblAccount.h"
#include "db/TblImplPlan.h"
#include "db/TblOffer.h"
#include "db/TblOrder.h"
#include "db/TblPoint.h"
#include "db/TblPriceBar.h"
#include "db/TblTrade.h"
#include "db/TblTsContext.h"
#include "db/TblTsContextTitle.h"
#include "support/Database.h"
#include "support/Rows.h"

namespace {

using Cells = std::vector<std::pair<std::string, std::string>>;

class SchemaStatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_DATABASE(db_);
    client_ = ConnectTestClient(db_);
    ASSERT_NE(client_, nullptr);
  }

  // Inserts the record made from `cells`, reads it back and compares what
  // `print` makes of both, updates it as another user, and deletes it.
  template <typename T>
  void RoundTrip(const Cells& cells, std::function<std::string(const T&)> print) {
    std::unique_ptr<CTestRows> rows(OneRow(cells));
    T record(rows->Row());
    const std::string what = typeid(T).name();
    ASSERT_NE(record.InsertSql(), "") << what;
    ASSERT_EQ(client_->Exec(record.InsertSql(), true), 0) << record.InsertSql();

    std::vector<std::unique_ptr<T>> found;
    ASSERT_EQ(client_->Select(record.SelectSql(), found, true), 1) << record.SelectSql();
    EXPECT_EQ(print(*found[0]), print(record)) << what;

    record.SetUpdateUser("tester");
    ASSERT_EQ(client_->Exec(record.UpdateSql(), true), 0) << record.UpdateSql();
    std::string updater = record.SelectSql();
    updater.replace(0, 8, "SELECT upd_user_id");
    EXPECT_EQ(QueryRows(db_, updater), std::vector<std::string>{"tester"}) << updater;

    ASSERT_EQ(client_->Exec(record.DeleteSql(), true), 0) << record.DeleteSql();
    found.clear();
    EXPECT_EQ(client_->Select(record.SelectSql(), found, true), 0) << what;
  }

  DatabaseSettings db_;
  std::unique_ptr<CMywClient> client_;
  const std::string id_ = "zs" + std::to_string(getpid());
};

TEST_F(SchemaStatementsTest, Account) {
  RoundTrip<CTblAccount>({{"AccountID", id_}, {"AccountName", "Desk"}, {"AccountType", "32"},
                          {"Balance", "1000.5"}, {"UsableMarginInPercentage", "96"},
                          {"Hedging", "Y"}, {"Currency", "JPY"}},
                         [](const CTblAccount& a) { return a.ToJson() + a.ToText(); });
}

TEST_F(SchemaStatementsTest, Trade) {
  RoundTrip<CTblTrade>({{"TradeID", "1"}, {"AccountID", id_}, {"Symbol", "EURUSD"},
                        {"Amount", "10000"}, {"BS", "B"}, {"Open", "1.08"}, {"PL", "12.5"},
                        {"OpenTime", "2026-12-01 09:00:00"}, {"CloseTime", "2026-12-02 10:30:00"},
                        {"CloseOrderID", "c1"}, {"MaxSumPLCount", "3"},
                        {"MaxSumPLTime", "2026-12-01 12:00:00"}},
                       [](const CTblTrade& t) { return t.ToJson() + t.ToText(); });
}

TEST_F(SchemaStatementsTest, OpenTradeWithoutACloseTime) {
  RoundTrip<CTblTrade>({{"TradeID", "2"}, {"AccountID", id_}, {"Symbol", "USDJPY"},
                        {"OpenTime", "2026-12-01 09:00:00"}, {"CloseTime", ""}},
                       [](const CTblTrade& t) { return t.ToJson(); });
}

TEST_F(SchemaStatementsTest, Offer) {
  RoundTrip<CTblOffer>({{"OfferID", id_}, {"Symbol", "EUR/USD"}, {"Bid", "1.0842"}, {"Ask", "1.0844"},
                        {"Time", "2026-12-05 09:30:00"}, {"PointSize", "0.0001"}},
                       [](const CTblOffer& o) { return o.ToJson() + o.ToText(); });
}

TEST_F(SchemaStatementsTest, PriceBar) {
  RoundTrip<CTblPriceBar>({{"Symbol", id_}, {"Period", "M1"}, {"StartDate", "2026/12/05 00:00:00"},
                           {"AskOpen", "1.5"}, {"BidClose", "1.25"}},
                          [](const CTblPriceBar& b) { return b.ToJson(); });
}

TEST_F(SchemaStatementsTest, ImplPlan) {
  RoundTrip<CTblImplPlan>({{"AccountID", id_}, {"Symbol", "EURUSD"}, {"IP1", "0.5"}, {"IP20", "9"}},
                          [](const CTblImplPlan& p) { return p.ToJson() + p.ToText(); });
}

TEST_F(SchemaStatementsTest, TsContext) {
  RoundTrip<CTblTsContext>({{"OrderID", "o1"}, {"TradeID", "7"}, {"AccountId", id_}, {"Class", "S"},
                            {"TitleSeq", "1"}, {"C1", "1.5"}, {"C40", "-2"},
                            {"TradeMethodName", "MA"}},
                           [](const CTblTsContext& c) { return c.ToJson() + c.ToText(); });
}

TEST_F(SchemaStatementsTest, TsContextTitle) {
  const std::string key = std::to_string(getpid());
  RoundTrip<CTblTsContextTitle>(
      {{"TitleSeq", key}, {"TitleMd5", std::string(32 - key.size(), 'f') + key}, {"T1", "Entry"},
       {"T40", "Last"}},
      [](const CTblTsContextTitle& t) { return std::to_string(t.TitleSeq()) + t.TitleText(); });
}

TEST_F(SchemaStatementsTest, Order) {
  RoundTrip<CTblOrder>({{"OrderID", "o1"}, {"RequestID", "r1"}, {"AccountID", id_},
                        {"Symbol", "EURUSD"}, {"BS", "S"}, {"Stage", "O"}, {"OrderType", "LE"},
                        {"Amount", "5000"}, {"Rate", "1.09"}, {"Time", "2026-12-05 09:00:00"}},
                       [](const CTblOrder& o) { return o.ToText(); });
}

TEST_F(SchemaStatementsTest, Point) {
  RoundTrip<CTblPoint>({{"Symbol", id_}, {"SrcKbn", "2"}, {"Time", "2026-12-05 00:00:00"},
                        {"R5", "1.15"}, {"R1", "0"}, {"Pivot", "1.1"}, {"S5", "1.05"}},
                       [](const CTblPoint& p) { return p.ToText(); });
}

}  // namespace
