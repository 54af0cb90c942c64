// getPriceBar: the bars of one symbol and period, from the price-bar board
// only; this method has no database fallback.
#include "desk/DeskService.h"
#include "shm/Board.h"
#include "util/StringUtil.h"

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
    result = ReadBoard(BoardKey(kPriceBarBoard, plain + period->text), kPriceBarBoard.size, bars,
                       kPriceBarBoard.indexSize);
  }
  answer = Envelope(StatusText(result), "[" + bars + "]");
}
