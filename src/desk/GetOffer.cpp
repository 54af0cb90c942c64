// getOffer: all offers, or those of the "symbol" children of params, from
// the offer board's index, or from `Offer` when the board cannot be read and
// the database may stand in.
#include "db/SqlText.h"
#include "db/TblOffer.h"
#include "desk/DeskService.h"
#include "shm/Board.h"

namespace {

// The database's whole statement. Every child of params, whatever its
// name, stands in the symbol list.
std::string OfferSql(const CMarkupNode* params) {
  CSqlText sql("SELECT * FROM `Offer` ");
  if (params != nullptr && !params->children.empty()) {
    CSqlText where("where `Symbol` in (");
    where.List();
    for (const auto& child : params->children) where.Item().Quoted(child->text);
    sql.Append(where.Add(")"));
  }
  return sql.Add(" ORDER BY `OfferID`").Text();
}

}  // namespace

void CDeskService::GetOffer(const CMarkupNode* params, std::string& answer) {
  std::string offers;
  int result;
  if (params == nullptr || params->children.empty()) {
    result = ReadBoard(BoardKey(kOfferBoard), kOfferBoard.size, offers, kOfferBoard.indexSize);
  } else {
    // Every child stands in the database's symbol list.
    if (!WithinBound(params->children.size(), "ids", kMaxRequestIds, maxIds_)) return;
    std::vector<const CMarkupNode*> symbols;
    params->FindChildren("symbol", symbols);
    result = ReadBoardByKeys(BoardKey(kOfferBoard), kOfferBoard.size, offers, kOfferBoard.indexSize,
                             symbols);
  }
  const char* status = "0";
  if (result == -1) {
    offers.clear();
    if (shmSelDb_ && ConnectDb()) AppendJson<CTblOffer>(OfferSql(params), offers);
    status = offers.empty() ? "1" : "0";
  }
  answer = Envelope(status, "[" + offers + "]");
}
