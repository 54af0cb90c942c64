-- The desk the method tests ask: {ID} stands for the test run's own account id.
-- Times are Tokyo time.
DELETE FROM `Offer`;
INSERT INTO `Offer` (OfferID, Symbol, Bid, Ask, PointSize, Time) VALUES
  ('1', 'EURUSD', 1.0842, 1.0844, 0.0001, '2026-12-05 09:30:00'),
  ('2', 'USDJPY', 151.32, 151.34, 0.01, '2026-12-05 09:30:01');
INSERT INTO `Account` (AccountID, AccountName, Balance, Equity, DayPL, GrossPL, UsedMargin, UsableMargin, Hedging) VALUES
  ('{ID}a', 'Test', 1000, 1010.5, -2, 10.5, 40, 970.5, 'Y');
INSERT INTO `Trade` (TradeID, AccountID, OfferID, Symbol, Amount, BS, Open, PL, GrossPL, OpenTime, CloseTime, OpenOrderID, CloseOrderID) VALUES
  ('1', '{ID}', '1', 'EURUSD', 10000, 'B', 1.08, 12.5, 0, '2026-12-01 09:00:00', DEFAULT, 'o1', ''),
  ('2', '{ID}', '2', 'USDJPY', 5000, 'S', 151.2, -3, 0, '2026-12-03 10:00:00', DEFAULT, 'o2', ''),
  ('3', '{ID}', '1', 'EURUSD', 10000, 'B', 1.07, 40, 0, '2026-11-01 09:00:00', '2026-11-02 09:00:00', 'o3', 'c3');
INSERT INTO `TsContext` (OrderID, TradeID, AccountId, Class, TradeMethodPeriod, TradeMethodName, TrailStopPeriod, TrailStopName, TrailMoveTsName) VALUES
  ('o1', '1', '{ID}', 'S', 'H1', 'MA-Cross', 'M15', 'ATR', 'Step'),
  ('o2', '2', '{ID}', 'S', 'M5', '', '', '', ''),
  ('o3', '3', '{ID}', 'S', 'D1', 'Carry', '', '', '');
INSERT INTO `ImplPlan` (AccountID, Symbol, IP1, IP2, IP3) VALUES
  ('{ID}', 'USDJPY', '0.3', '0.8', '20'),
  ('{ID}', 'EURUSD', '0.5', '1.0', '30');
