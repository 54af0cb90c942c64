// getPriceBar: the bars of one symbol and period, from the price-bar board
// only; this method has no database fallback.
#include "db/TblPriceBar.h"
#include "desk/Zelvora.h"
#include "util/StringUtil.h"

namespace {

const int32_t kPriceBarBoardSize = 172812;

}  // namespace

void CDeskService::GetPriceBar(const CMarkupNode* params, std::string& answer) {
  if (params == nullptr || params->children.empty()) return;
  std::string bars;
  int result = -1;
  const CMarkupNode* symbol = params->FindNode("symbol");
  const CMarkupNode* period = params->FindNode("period");
  if (symbol != nullptr && period != nullptr) {
    // EUR/USD and EURUSD name the same board.
    std::string plain = symbol->text;
    ReplaceAll(plain, "/", "");
    const std::string key = std::string(CTblPriceBar::TagName()) + "." + plain + period->text;
    result = ReadBoard(key, kPriceBarBoardSize, bars, 0);
  }
  answer = Envelope(StatusText(result), "[" + bars + "]");
}
