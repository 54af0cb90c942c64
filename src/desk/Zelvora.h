// CDeskService answers one request: one handler per desk method, plus the
// data-source choices they share. Created by the entry after the request
// document was accepted, used by one Dispatch call, destroyed before exit.
//
// Every handler has one shape: the "params" node (null when the request has
// none; it must outlive the call) and the answer text, passed in empty. The
// handler leaves its whole answer in `answer`; an empty answer is its
// failure signal.
#ifndef ZELVORA_DESK_ZELVORA_H_
#define ZELVORA_DESK_ZELVORA_H_

#include <cstdint>
#include <string>

#include "markup/MarkupNode.h"

class CDeskService {
 public:
  // Reads SHM_SEL_DB; opens nothing.
  CDeskService();
  CDeskService(const CDeskService&) = delete;
  CDeskService& operator=(const CDeskService&) = delete;

  // "1" for -1, "0" for every other code.
  static const char* StatusText(int32_t code);

  // True when SHM_SEL_DB held exactly "1" at construction: the database may
  // stand in for a board that cannot be read.
  bool ShmSelDb() const { return shmSelDb_; }

  void GetAccount(const CMarkupNode* params, std::string& answer);
  void GetOffer(const CMarkupNode* params, std::string& answer);
  void GetOpenTrade(const CMarkupNode* params, std::string& answer);
  void GetOpenTradeA(const CMarkupNode* params, std::string& answer);
  void GetClosedTrade(const CMarkupNode* params, std::string& answer);
  void GetReport(const CMarkupNode* params, std::string& answer);
  void GetImplPlan(const CMarkupNode* params, std::string& answer);
  void SetImplPlan(const CMarkupNode* params, std::string& answer);
  void GetPriceBar(const CMarkupNode* params, std::string& answer);

 private:
  bool shmSelDb_;
};

#endif  // ZELVORA_DESK_ZELVORA_H_
