// Asking the desk program: one POST per request in its markup form, and the
// answer sorted into data or a failure a person can read. Only a network
// failure is retried (with growing pauses); every other failure is final
// for that request and thrown as an ApiError.
import config from './config.js';

const kBanner = 'Zelvora '; // how the program answers a request it cannot serve
const kWords = new Set(['ok', 'msg_no_data', 'msg_counts_over']);

export class ApiError extends Error {
  constructor(kind, message) {
    super(message);
    this.kind = kind; // network, timeout, dropped, http, empty, banner, json, status, input
  }
}

export function endpoint() {
  const chosen = new URLSearchParams(location.search).get('endpoint');
  return /^zelvora\.f?cgi$/.test(chosen ?? '') ? chosen : config.endpoint;
}

// The program decodes "&amp;" only: "<" and ">" cannot be sent at all.
function text(value) {
  const s = String(value);
  if (/[<>]/.test(s)) throw new ApiError('input', `"${s}" may not hold < or >`);
  return s.replaceAll('&', '&amp;');
}

// {name: value | [values] | {nested}} as elements, in the object's order.
export function markup(params) {
  return Object.entries(params)
    .map(([name, value]) =>
      (Array.isArray(value) ? value : [value])
        .filter((v) => v !== undefined && v !== null)
        .map((v) => `<${name}>${typeof v === 'object' ? markup(v) : text(v)}</${name}>`)
        .join(''),
    )
    .join('');
}

export function interpret(body) {
  const answer = body.trim();
  if (answer === '') throw new ApiError('empty', 'The server sent an empty answer.');
  if (answer.startsWith(kBanner))
    throw new ApiError('banner', 'The server could not answer this request.');
  if (kWords.has(answer)) return answer;
  try {
    return JSON.parse(answer);
  } catch {
    throw new ApiError('json', "The server's answer is not valid JSON.");
  }
}

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// `signal` aborts a request whose answer is no longer wanted (it then
// throws an ApiError of kind "dropped", which no panel shows); every
// request also fails after config.requestTimeoutMs. A write passes
// `retries: 0`: a request that failed on the way may have been carried out.
export async function ask(method, params = {}, { signal, retries = 3 } = {}) {
  const body = `<zelvora><method>${method}</method><params>${markup(params)}</params></zelvora>`;
  for (let attempt = 0; ; ++attempt) {
    // Built outside the try: only a failure of the request itself is retried.
    const timeout = AbortSignal.timeout(config.requestTimeoutMs);
    const either = signal ? AbortSignal.any([signal, timeout]) : timeout;
    let response, text;
    try {
      // The program writes plans only for a request that says it comes from a
      // script (X-Zelvora-Request): no other site's form or plain fetch can.
      response = await fetch(endpoint(), {
        method: 'POST',
        headers: { 'Content-Type': 'text/xml', 'X-Zelvora-Request': '1' },
        body,
        cache: 'no-store',
        signal: either,
      });
      if (response.ok) text = await response.text();
    } catch {
      if (signal?.aborted) throw new ApiError('dropped', 'This answer is no longer wanted.');
      if (timeout.aborted) throw new ApiError('timeout', 'The desk server is not answering.');
      if (attempt >= retries) throw new ApiError('network', 'The desk server cannot be reached.');
      await pause(500 * 2 ** attempt);
      continue;
    }
    if (!response.ok)
      throw new ApiError(
        'http',
        `The web server answered ${response.status} ${response.statusText}.`,
      );
    return interpret(text);
  }
}

// The records of a {"status":0, "data":[...]} answer; status 1 is a failure.
export function records(answer, what) {
  if (answer && answer.status === 0 && Array.isArray(answer.data)) return answer.data;
  if (answer && answer.status === 1)
    throw new ApiError('status', `${what}: the desk has no data for this (status 1).`);
  throw new ApiError('json', `${what}: the answer is not in the expected form.`);
}

// The program answers an empty list both when there is nothing and when the
// database is away (saying which only on its standard error). A count-only
// report fails visibly when the database is away, so an empty list is
// checked with one.
export async function confirmEmpty(account, what, signal) {
  try {
    await ask('getReport', { rpttype: '0', accountid: account }, { signal });
  } catch (error) {
    if (error instanceof ApiError && error.kind === 'banner')
      throw new ApiError('database', `${what}: the desk database cannot be reached.`);
    throw error;
  }
}
