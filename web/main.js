// Starts every panel on its own: one that fails to start leaves the others
// running. The panels of accounts wait for the caller's accounts.
import * as access from './access.js';
import * as accounts from './accounts.js';
import { ApiError, endpoint } from './api.js';
import * as chart from './chart.js';
import config from './config.js';
import { zoneWarning } from './format.js';
import * as history from './history.js';
import * as offers from './offers.js';
import * as plans from './plans.js';
import * as report from './report.js';
import * as stream from './stream.js';
import * as trades from './trades.js';
import { el } from './ui.js';

const startAll = (panels) => {
  for (const panel of panels)
    Promise.resolve()
      .then(panel.start)
      .catch((error) => console.error(error));
};

const header = document.querySelector('header'),
  caller = document.getElementById('caller');
const say = (message, kind = 'info') => {
  caller.textContent = message;
  caller.dataset.kind = message ? kind : '';
};

// Asks until the program names the caller's accounts: without them no
// account can be listed. A caller granted every account learns none of them
// while the database is away: asked again too.
async function knowCaller() {
  for (;;) {
    try {
      await access.know();
      if (!access.me.partial || access.me.read.length) return;
      say('The desk database could not list the accounts open to you: asking again.', 'warn');
    } catch (error) {
      if (!(error instanceof ApiError)) console.error(error);
      say(
        `The accounts open to you could not be had: ${error instanceof ApiError ? error.message : 'the page could not read the answer.'}`,
        'error',
      );
    }
    await new Promise((resolve) => setTimeout(resolve, config.accountPollMs));
  }
}

document.getElementById('endpoint').textContent = endpoint();
if (zoneWarning)
  header.append(el('p', { class: 'status', role: 'alert', 'data-kind': 'error' }, zoneWarning));
stream.follow({});
startAll([offers, chart]);
await knowCaller();
const { me } = access;
document.querySelector('#user strong').textContent = me.user;
document.getElementById('user').hidden = !me.user;
if (!me.read.length) say('No account is open to you.', 'warn');
else if (me.partial)
  say(
    'The desk database could not list its accounts: only those named for you are shown. Reload the page when it is back.',
    'warn',
  );
else say('');
if (me.read.length) {
  stream.follow({ accounts: me.read });
  startAll([accounts, trades, report, plans, history]);
}
