// Live offers: every symbol on the offer board, polled every second, with
// the direction of each tick, the spread in pips and stale rows marked.
import { ApiError, ask, records } from './api.js';
import config from './config.js';
import { localTime, number, priceDigits } from './format.js';
import { el, panel, poll, table } from './ui.js';

const last = new Map();  // symbol → {bid, ask, time, moved (page clock, ms), bidTick, askTick}
const listeners = [];

// `listener(symbols)` hears the board's symbols after every answer.
export function onSymbols(listener) {
  listeners.push(listener);
}

function track(offer, now) {
  const before = last.get(offer.Symbol);
  const tick = (key, old) => (old === undefined || offer[key] === old ? before?.[`${key}Tick`] ?? '' : offer[key] > old ? 'up' : 'down');
  const state = {
    Bid: offer.Bid, Ask: offer.Ask, Time: offer.Time,
    moved: before && before.Time === offer.Time ? before.moved : now,
    BidTick: tick('Bid', before?.Bid), AskTick: tick('Ask', before?.Ask),
  };
  last.set(offer.Symbol, state);
  return { ...offer, ...state, stale: now - state.moved >= config.staleSeconds * 1000 };
}

export function start() {
  const offers = panel('offers');
  poll(config.offerPollMs, () => offers.run(async () => {
    let rows;
    try {
      rows = records(await ask('getOffer'), 'Offers');
    } catch (error) {
      if (error instanceof ApiError && error.kind === 'status') throw new ApiError('status', 'The offer board is gone: no offers to show.');
      throw error;
    }
    const now = Date.now();
    rows = rows.map((offer) => track(offer, now));
    const price = (key) => ({ key, label: key, num: true, text: (row) => el('span', { class: row[`${key}Tick`] }, number(row[key], priceDigits(row.PointSize))) });
    offers.show(table([
      { key: 'Symbol', label: 'Symbol' }, price('Bid'), price('Ask'),
      { key: 'spread', label: 'Spread', num: true, text: (row) => (row.PointSize > 0 ? number((row.Ask - row.Bid) / row.PointSize, 1) : '') },
      { key: 'High', label: 'High', num: true, text: (row) => number(row.High, priceDigits(row.PointSize)) },
      { key: 'Low', label: 'Low', num: true, text: (row) => number(row.Low, priceDigits(row.PointSize)) },
      { key: 'Time', label: 'Time', text: (row) => el('time', {}, localTime(row.Time, false), row.stale ? el('span', { class: 'badge' }, 'stale') : null) },
    ], rows, { empty: 'The offer board holds no offers.', rowClass: (row) => (row.stale ? 'stale' : '') }));
    if (rows.length && rows.every((row) => row.stale)) offers.say(`No offer has moved for ${config.staleSeconds} s: is the feeder running?`, 'warn');
    for (const listener of listeners) listener(rows.map((row) => row.Symbol));
  }));
}
