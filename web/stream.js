// The desk's stream: one EventSource per page (stream/desk) carrying the
// offers, the accounts the page shows and the chart's bars as their boards
// change, in place of most of the page's polling. A panel polls its topic
// (as it always did) while that topic is not live: before its first
// snapshot, while the stream is away, and while the stream server says its
// board is missing, locked or unreadable. A lost stream (an error, a refusal,
// or config.streamSilenceMs without any event, heartbeats included) is tried
// again after a pause that doubles up to a minute, jittered, so that the
// pages do not all come back to a restarted server at once. #feed says
// "live" while at least one topic is live, else "polling".
import config from './config.js';

const topics = new Map(); // topic → { live, count (events received) }
const listeners = [];
const feed = document.getElementById('feed');
// At most this many accounts a stream; a caller with more polls them all.
const kMaxAccounts = 100;
const kDown = new Set(['missing', 'locked', 'unreadable']);
// The panels' first answers, which set what the stream carries, come within
// this long of each other: one stream is opened for them all.
const kGather = 300;
// A stream that stays up this long is sound again: the pause before the
// next attempt starts over. (A snapshot alone is not enough: a server that
// drops each stream soon after its snapshots would be asked again at once.)
const kSteady = 60000;

let wanted = null; // the stream's parameters as a query string, once a panel asked
let source = null; // the EventSource, while one is open or opening
let opened = false; // it answered: events flow
let heard = 0; // performance.now() of the last event
let failures = 0; // since the stream last stayed up kSteady
let up = 0; // performance.now() when the stream last opened
let retry = null; // the timer of the next attempt
let reopening = null; // the timer that gathers changes of parameters into one reopening

const topic = (name) => {
  if (!topics.has(name)) topics.set(name, { live: false, count: 0 });
  return topics.get(name);
};

// The topic's records come from the stream now: no need to poll it.
export const live = (name) => opened && topic(name).live;

// Taken before a poll's request is sent: an answer is stale when the topic
// went live or brought anything since (a streamed record is never
// overwritten by an older answer).
export const mark = (name) => topic(name).count;
export const stale = (name, before) => live(name) || topic(name).count !== before;

// `listener(type, data)` hears every "snapshot" and "change" ({topic,
// records, gone}), and "lost" (no data) when every topic stops being live.
export function listen(listener) {
  listeners.push(listener);
}
const tell = (type, data) => {
  for (const listener of listeners)
    try {
      listener(type, data);
    } catch (error) {
      console.error(error);
    }
};

const show = (state) => {
  if (feed) feed.textContent = state;
};
// "live" while at least one topic is: an open stream whose boards are all
// missing brings nothing, and the page polls.
const showFeed = () =>
  show(opened && [...topics.values()].some((state) => state.live) ? 'live' : 'polling');

function close() {
  source?.close();
  source = null;
  const was = opened;
  opened = false;
  for (const state of topics.values()) state.live = false;
  show('polling');
  if (was) tell('lost');
}

function lose() {
  close();
  const pause = Math.min(60000, 1000 * 2 ** failures++);
  retry = setTimeout(open, pause / 2 + Math.random() * (pause / 2));
}

function open() {
  clearTimeout(retry);
  close();
  source = new EventSource(`stream/desk?${wanted}`);
  heard = performance.now();
  const on = (type, work) =>
    source.addEventListener(type, (event) => {
      heard = performance.now();
      let data;
      try {
        data = JSON.parse(event.data);
      } catch {
        return;
      }
      work(data);
    });
  source.addEventListener('open', () => {
    opened = true;
    heard = up = performance.now();
    showFeed();
  });
  source.addEventListener('error', lose);
  on('heartbeat', () => {});
  for (const type of ['snapshot', 'change'])
    on(type, (data) => {
      if (typeof data.topic !== 'string' || !Array.isArray(data.records)) return;
      const state = topic(data.topic);
      if (type === 'snapshot') state.live = true;
      ++state.count;
      tell(type, { gone: [], ...data });
      showFeed();
    });
  on('board', (data) => {
    if (kDown.has(data.state)) topic(String(data.topic)).live = false;
    showFeed();
  });
  // The caller lost the right to an account: it is polled from now on (the
  // program answers or refuses it there), and the rest streamed again.
  on('refused', (data) => {
    const id = /^(?:account|trades):(.*)$/s.exec(String(data.topic))?.[1];
    if (id === undefined || refused.has(id) || !parameters.accounts.includes(id)) return lose();
    refused.add(id);
    close();
    follow({});
  });
  // The server stops, or the stream reached its lifetime: at once again.
  on('bye', () => {
    close();
    retry = setTimeout(open, Math.random() * 1000);
  });
}

// Sets what the stream carries besides the offers ({accounts} and {symbol,
// period} merge into what was set), and opens it again when that changed.
const parameters = { accounts: [], symbol: '', period: '' };
const refused = new Set(); // accounts the stream refused, polled until the page is loaded again
export function follow(changes) {
  Object.assign(parameters, changes);
  const query = new URLSearchParams();
  const { symbol, period } = parameters;
  const accounts = parameters.accounts.filter((id) => !refused.has(id));
  if (accounts.length && accounts.length <= kMaxAccounts) query.set('accounts', accounts.join(','));
  if (symbol && period) {
    query.set('symbol', symbol);
    query.set('period', period);
  }
  if (String(query) === wanted) return;
  wanted = String(query);
  clearTimeout(reopening);
  reopening = setTimeout(() => {
    failures = 0;
    open();
  }, kGather);
}

show('polling');
setInterval(() => {
  if (opened && performance.now() - heard >= config.streamSilenceMs) lose();
  else if (opened && performance.now() - up >= kSteady) failures = 0;
}, 1000);
