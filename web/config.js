// What a desk sets to fit the page to its own setup.
export default {
  // Where the program answers: "zelvora.cgi" (a process per request) or
  // "zelvora.fcgi" (the persistent workers). A page opened with
  // ?endpoint=NAME uses that one instead.
  endpoint: 'zelvora.cgi',
  // The desk's accounts, in the order the panels list them.
  accounts: ['1001', '1002', '2001'],
  // The chart's first symbol and the periods its boards are kept for.
  chartSymbol: 'EURUSD',
  periods: ['M1', 'M5', 'M15', 'H1', 'H4', 'D1'],
  offerPollMs: 1000,
  accountPollMs: 2000,
  // An offer whose time has not moved for this long is marked stale.
  staleSeconds: 10,
  // Written as the plan's updater by setImplPlan.
  loginId: 'desk-page',
};
