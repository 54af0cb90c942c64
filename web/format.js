// Numbers and times as a trader reads them. The program writes times as
// UTC texts ("2026/12/05 00:30:00"); the page shows them in the desk's zone
// (config.timeZone), whatever the zone of the machine it runs on.
import config from './config.js';

export function number(value, digits = 2) {
  const n = Number(value);
  if (!Number.isFinite(n)) return '';
  return n.toLocaleString('en-US', {
    minimumFractionDigits: digits,
    maximumFractionDigits: digits,
    signDisplay: 'negative',
  });
}

// Digits enough for a price quoted in steps of `pointSize`.
export function priceDigits(pointSize) {
  const p = Number(pointSize);
  return p > 0 && p < 1 ? Math.min(8, Math.round(-Math.log10(p)) + 1) : 2;
}

// A price in the digits of `pointSize`; as the program wrote it while the
// size is not known or too small for its six decimals (0).
export function priceText(value, pointSize) {
  return Number(pointSize) > 0 ? number(value, priceDigits(pointSize)) : String(value ?? '');
}

// Digits of an account's money: its currency's (JPY none, USD two).
export function moneyDigits(account) {
  const currency = config.currencies?.[account];
  try {
    return currency
      ? new Intl.NumberFormat('en-US', { style: 'currency', currency }).resolvedOptions()
          .maximumFractionDigits
      : 2;
  } catch {
    return 2;
  }
}

export function signClass(value) {
  const n = Number(value);
  return n > 0 ? 'up' : n < 0 ? 'down' : '';
}

export function utcSeconds(text) {
  const m = /^(\d{4})\/(\d\d)\/(\d\d) (\d\d):(\d\d):(\d\d)$/.exec(text ?? '');
  return m ? Date.UTC(+m[1], m[2] - 1, +m[3], +m[4], +m[5], +m[6]) / 1000 : NaN;
}

const kParts = {
  hourCycle: 'h23',
  year: 'numeric',
  month: '2-digit',
  day: '2-digit',
  hour: '2-digit',
  minute: '2-digit',
  second: '2-digit',
};

// A zone the browser does not know leaves the page in the browser's own
// zone, with `zoneWarning` saying so, rather than leaving it blank.
function deskFormat() {
  try {
    return [new Intl.DateTimeFormat('en-US', { ...kParts, timeZone: config.timeZone }), ''];
  } catch {
    const format = new Intl.DateTimeFormat('en-US', kParts);
    return [
      format,
      `The desk's time zone "${config.timeZone}" is not known here: times are shown in ${format.resolvedOptions().timeZone}.`,
    ];
  }
}
const [kDesk, kZoneWarning] = deskFormat();
export const zoneWarning = kZoneWarning;

// The desk's zone, as column headings name it.
export const zone = kDesk.resolvedOptions().timeZone;

// The desk's wall clock at the instant `seconds` (UTC), counted as if it
// were UTC: the offset is the zone's at that very instant, so both sides of
// a daylight-saving change come out right.
export function deskSeconds(seconds) {
  const p = Object.fromEntries(
    kDesk.formatToParts(new Date(seconds * 1000)).map((part) => [part.type, part.value]),
  );
  return Date.UTC(+p.year, p.month - 1, +p.day, +p.hour, +p.minute, +p.second) / 1000;
}

// The instant (UTC seconds) at which the desk's clock shows `clock` (as
// deskSeconds counts it). A clock time the desk skips when its clocks go
// forward comes out as the time after the gap (the skipped midnight of a
// zone that moves at midnight: its 01:00). The guesses alternate between
// the gap's two sides then: the later one is that time.
export function deskInstant(clock) {
  const offset = (instant) => deskSeconds(instant) - instant;
  const first = clock - offset(clock),
    second = clock - offset(first);
  return Math.max(second, clock - offset(second));
}

// "2026/12/05 09:30:00": the desk's clock at the instant `seconds` (UTC).
export function deskClock(seconds) {
  const d = new Date(deskSeconds(seconds) * 1000),
    two = (n) => String(n).padStart(2, '0');
  return `${d.getUTCFullYear()}/${two(d.getUTCMonth() + 1)}/${two(d.getUTCDate())} ${two(d.getUTCHours())}:${two(d.getUTCMinutes())}:${two(d.getUTCSeconds())}`;
}

// A time of the program's in the desk's zone; "" for its "no time" (before 1970).
export function deskTime(text, withDate = true) {
  const seconds = utcSeconds(text);
  if (!(seconds >= 0)) return '';
  return deskClock(seconds).slice(withDate ? 0 : 11);
}

// A date input's "2026-12-05" as the desk's "2026/12/05 00:00:00" (or 23:59:59 for an end):
// the program compares it with the database's times, which are the desk's.
export function dateParam(value, end = false) {
  return value ? `${value.replaceAll('-', '/')} ${end ? '23:59:59' : '00:00:00'}` : undefined;
}
