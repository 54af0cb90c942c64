// Starts every panel on its own: one that fails to start leaves the others running.
import * as accounts from './accounts.js';
import { endpoint } from './api.js';
import * as chart from './chart.js';
import { zoneWarning } from './format.js';
import * as offers from './offers.js';
import * as plans from './plans.js';
import * as report from './report.js';
import * as trades from './trades.js';
import { el } from './ui.js';

document.getElementById('endpoint').textContent = endpoint();
if (zoneWarning) document.querySelector('header').append(el('p', { class: 'status', role: 'alert', 'data-kind': 'error' }, zoneWarning));
for (const panel of [offers, accounts, chart, trades, report, plans]) {
  Promise.resolve().then(panel.start).catch((error) => console.error(error));
}
