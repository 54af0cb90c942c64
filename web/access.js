// Who is signed in and which accounts they may read and trade, asked of the
// program once when the page opens (whoAmI). The panels list only the
// accounts read here; the program refuses the others whatever the page does.
import { ApiError, ask } from './api.js';

export const me = { user: '', read: [], trade: [], partial: false };

export const mayTrade = (account) => me.trade.includes(account);

// Fills `me`; throws an ApiError when the answer is not whoAmI's. Status 1
// (the desk database could not list its accounts) keeps the accounts the
// grants name, and `partial` says so.
export async function know() {
  const answer = await ask('whoAmI');
  const data = answer?.data;
  if (
    ![0, 1].includes(answer?.status) ||
    !Array.isArray(data?.Read) ||
    !Array.isArray(data?.Trade)
  ) {
    throw new ApiError('json', 'whoAmI: the answer is not in the expected form.');
  }
  const named = (list) => list.map(String).filter((account) => account !== '*');
  Object.assign(me, {
    user: String(data.User ?? ''),
    read: named(data.Read),
    trade: named(data.Trade),
    partial: answer.status === 1,
  });
}
