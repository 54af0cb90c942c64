// What a desk sets to fit the page to its own setup.
export default {
  // Where the program answers: "zelvora.cgi" (a process per request) or
  // "zelvora.fcgi" (the persistent workers). A page opened with
  // ?endpoint=NAME uses that one instead.
  endpoint: 'zelvora.cgi',
  // Each account's currency, which sets the digits of its money (two for
  // an account not named here).
  currencies: { 1001: 'JPY', 1002: 'JPY', 2001: 'USD' },
  // The desk's time zone (the program's TZ): its database holds local
  // times, and the page shows times and takes dates in this zone.
  timeZone: 'Asia/Tokyo',
  // The chart's first symbol and the periods its boards are kept for.
  chartSymbol: 'EURUSD',
  periods: ['M1', 'M5', 'M15', 'H1', 'H4', 'D1'],
  // Whose clock the feeder starts its 4-hour and daily bars on: "desk"
  // (a day from the desk's midnight, 23 or 25 hours when its clocks
  // change) or "utc" (every day 24 hours).
  barClock: 'desk',
  offerPollMs: 1000,
  accountPollMs: 2000,
  openTradePollMs: 5000,
  chartPollMs: 15000,
  // A stream that brought no event (heartbeats included) for this long is
  // lost: the page polls and tries it again.
  streamSilenceMs: 30000,
  // A request not answered in this long has failed: the server is not
  // answering. It has to outlast the program's own waits: MYSQL_TIMEOUT
  // (10 s by default), plus MYSQL_CONNECT_TIMEOUT (2 s) for each database
  // host, plus up to 3 s of board lock waits. Raise it with those.
  requestTimeoutMs: 20000,
  // An offer whose time has not moved for this long (by the page's clock)
  // is marked stale.
  staleSeconds: 10,
};
