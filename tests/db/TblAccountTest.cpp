// CTblAccount and the record rules it shares with the whole family, on
// rows built in memory.
#include "db/TblAccount.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/Process.h"
#include "support/Rows.h"
#include "support/Text.h"
#include "util/DateTime.h"

namespace {

std::unique_ptr<CTestRows> FullRow() {
  return std::unique_ptr<CTestRows>(OneRow({
      {"AccountID", "1001"},
      {"AccountName", "Desk A"},
      {"AccountType", "32"},
      {"Balance", "100000.5"},
      {"Equity", "100250.25"},
      {"DayPL", "-12.5"},
      {"GrossPL", "249.75"},
      {"UsedMargin", "4000"},
      {"UsableMargin", "96250.25"},
      {"UsableMarginInPercentage", "96"},
      {"UsableMaintMarginInPercentage", "98"},
      {"MarginRate", "0.04"},
      {"Hedging", "Y"},
      {"Currency", "JPY"},
      {"Broker", "Broker One"},
      {"Reserve", "r"},
      {"ins_datetime", "2026-12-01 09:00:00"},
  }));
}


TEST(TblAccount, JsonHasItsMembersInOrder) {
  auto rows = FullRow();
  EXPECT_EQ(CTblAccount(rows->Row()).ToJson(),
            "{\"AccountID\":\"1001\",\"Balance\":100000.500000,\"Equity\":100250.250000,"
            "\"DayPL\":-12.500000,\"UsedMargin\":4000.000000,\"UsableMargin\":96250.250000,"
            "\"GrossPL\":249.750000,\"Hedging\":\"Y\"}");
}

TEST(TblAccount, MissingColumnsAndBadNumbersGiveEmptyOrZero) {
  std::unique_ptr<CTestRows> rows(
      OneRow({{"AccountID", "A1"}, {"Balance", "1000"}, {"Equity", "1e3"}, {"DayPL", "abc"},
              {"accountid", "lower"}, {"UsedMargin", ""}, {"UsableMargin", "12abc"}}));
  EXPECT_EQ(CTblAccount(rows->Row()).ToJson(),
            "{\"AccountID\":\"A1\",\"Balance\":1000.000000,\"Equity\":1000.000000,"
            "\"DayPL\":0.000000,\"UsedMargin\":0.000000,\"UsableMargin\":12.000000,"
            "\"GrossPL\":0.000000,\"Hedging\":\"\"}");
}

TEST(TblAccount, TheFirstColumnOfANameCounts) {
  CTestRows rows({"AccountID", "Hedging", "AccountID"}, {{"first", "N", "second"}});
  EXPECT_EQ(CTblAccount(rows.Row()).AccountId(), "first");
}

TEST(TblAccount, TextIsWrittenAsStored) {
  std::unique_ptr<CTestRows> rows(OneRow({{"AccountID", "a\"b"}, {"Hedging", "%d\\"}}));
  const std::string json = CTblAccount(rows->Row()).ToJson();
  EXPECT_EQ(json.substr(0, 19), "{\"AccountID\":\"a\"b\",");
  EXPECT_EQ(json.substr(json.size() - 16), "\"Hedging\":\"%d\\\"}");
}

TEST(TblAccount, TextDumpAndMarkup) {
  auto rows = FullRow();
  const CTblAccount account(rows->Row());
  EXPECT_EQ(account.ToText(),
            "\n>>>> [Account] <<<<\nAccountID: 1001\nAccountName: Desk A\nBalance: 100000.500000"
            "\nGrossPL: 249.750000\nUsedMargin: 4000.000000\nUsableMargin: 96250.250000"
            "\nMarginRate: 0.040000\nHedging: Y\nCurrency: JPY");
  EXPECT_EQ(account.ToMarkup(),
            "<account><AccountID>1001</AccountID><Balance>100000.500000</Balance>"
            "<DayPL>-12.500000</DayPL><UsedMargin>4000.000000</UsedMargin>"
            "<GrossPL>249.750000</GrossPL></account>");
  EXPECT_EQ(account.RecordTime(), 0);
  const ProcessResult printed = RunInChild([&] {
    account.Print(stdout);
    return 0;
  });
  EXPECT_EQ(printed.out, account.ToText() + "\n");
}

TEST(TblAccount, Statements) {
  auto rows = FullRow();
  CTblAccount account(rows->Row());
  account.SetUpdateUser("ops");
  EXPECT_EQ(account.SelectSql(), "SELECT * FROM `Account` WHERE `AccountID` ='1001'");
  EXPECT_EQ(account.DeleteSql(), "DELETE FROM `Account` WHERE `AccountID`='1001'");
  EXPECT_EQ(WithNow([&] { return account.InsertSql(); }),
            "INSERT INTO `Account` VALUES ('1001','Desk A','32',100000.500000,100250.250000,"
            "-12.500000,249.750000,4000.000000,96250.250000,96,98,0.040000,'Y','JPY',"
            "'Broker One','r','NOW','ops','NOW')");
  EXPECT_EQ(WithNow([&] { return account.UpdateSql(); }),
            "UPDATE `Account` SET `AccountName`='Desk A',`AccountType`='32',"
            "`Balance`=100000.500000,`Equity`=100250.250000,`DayPL`=-12.500000,"
            "`GrossPL`=249.750000,`UsedMargin`=4000.000000,`UsableMargin`=96250.250000,"
            "`UsableMarginInPercentage`=96,`UsableMaintMarginInPercentage`=98,"
            "`MarginRate`=0.040000,`Hedging`='Y',`Currency`='JPY',`Broker`='Broker One',"
            "`Reserve`='r',`upd_user_id`='ops',`upd_datetime`='NOW' WHERE `AccountID`='1001'");
}

TEST(TblAccount, StatementsRefuseValuesThatCouldBreakThem) {
  std::unique_ptr<CTestRows> rows(OneRow({{"AccountID", "1001' OR '1'='1"}, {"Reserve", "ok"}}));
  const CTblAccount account(rows->Row());
  EXPECT_EQ(account.SelectSql(), "");
  EXPECT_EQ(account.DeleteSql(), "");
  EXPECT_EQ(account.UpdateSql(), "");
  std::unique_ptr<CTestRows> name(OneRow({{"AccountID", "1"}, {"AccountName", "back\\"}}));
  EXPECT_EQ(CTblAccount(name->Row()).InsertSql(), "");
  EXPECT_NE(CTblAccount(name->Row()).SelectSql(), "");
}

TEST(TblAccount, AccountTypeNames) {
  EXPECT_EQ(CTblAccount::AccountTypeName("32"), "Trading account");
  EXPECT_EQ(CTblAccount::AccountTypeName("36"), "Managed account");
  EXPECT_EQ(CTblAccount::AccountTypeName("38"), "Controlled account");
  EXPECT_EQ(CTblAccount::AccountTypeName("99"), "99");
  EXPECT_EQ(CTblAccount::AccountTypeName(""), "");
  EXPECT_STREQ(CTblAccount::TagName(), "account");
}

// Counts deletions, to see that Release deletes exactly at zero.
class CCounted : public CTblBase {
 public:
  explicit CCounted(int* deleted) : deleted_(deleted) {}
  ~CCounted() override { ++*deleted_; }

 private:
  int* deleted_;
};

TEST(TblBase, ReleaseDeletesAtZero) {
  int deleted = 0;
  CCounted* record = new CCounted(&deleted);
  EXPECT_EQ(record->Status(), -1);
  record->SetStatus(3);
  EXPECT_EQ(record->Status(), 3);
  EXPECT_EQ(record->AddRef(), 2);
  EXPECT_EQ(record->Release(), 1);
  EXPECT_EQ(deleted, 0);
  EXPECT_EQ(record->Release(), 0);
  EXPECT_EQ(deleted, 1);
}

TEST(TblBase, BaseFormsAreEmpty) {
  int deleted = 0;
  CCounted record(&deleted);
  EXPECT_EQ(record.RecordTime(), 0);
  EXPECT_EQ(record.ToJson(), "");
  EXPECT_EQ(record.ToText(), "");
  EXPECT_EQ(record.ToMarkup(), "");
}

}  // namespace
