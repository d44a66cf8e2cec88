-- Sample company database, schema version 5: calendars are stored (Calendar) with
-- their cycles (CycleObject), and each book names its calendar (Book.CalendarID).
-- db/README.md lists what each company, book and calendar is there to show.
-- CycleType 327 monthly, 328 4-4-5, 329 4-5-4, 330 5-4-4, 331 thirteen periods,
-- 332 custom; DayOfWeek 1 Sunday .. 7 Saturday; PDCounting 333 forward,
-- 334 backward, 335 backward old month; YearEndElection 336 last weekday,
-- 337 closest weekday.

INSERT INTO VersionTable (AppID, ItemNumber, Info) VALUES (0, 0, '5.0');
INSERT INTO VersionTable (AppID, ItemNumber, Info) VALUES (0, 1, '7.7');
INSERT INTO VersionTable (AppID, ItemNumber, Info) VALUES (1, 0, '9.9');

-- Company 1: the stored-calendar company; books 0..7 each name a calendar.
INSERT INTO Company (CompanyID, BusnStart) VALUES (1, '1990-01-01 00:00:00');
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (1, 0, 12, 'T', 11);
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (1, 1, 1, 'T', 12);
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (1, 2, 9, 'T', 13);
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (1, 3, 3, 'F', 14);
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (1, 4, 8, 'T', 15);
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (1, 5, 12, 'T', 16);
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (1, 6, 6, 'T', 17);
-- Book 7: no calendar named (NULL CalendarID).
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (1, 7, 12, 'T', NULL);

-- Calendar 11: monthly, December year end from 1990; a cycle change to June in
-- 2005 makes the short year 1 January to 30 June 2005.
INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (1, 11, 'Tax', 0);
INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)
  VALUES (1, 11, 1, '1990-01-01 00:00:00', NULL, 327, 1, 334, 336, 12, 0, 0);
INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)
  VALUES (1, 11, 2, '2005-01-01 00:00:00', NULL, 327, 1, 334, 336, 6, 0, 0);

-- Calendar 12: 4-4-5 weeks, years end on the last Saturday of January.
INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (1, 12, 'Retail 4-4-5', 1);
INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)
  VALUES (1, 12, 1, '1999-01-31 00:00:00', NULL, 328, 7, 333, 336, 1, 1, 1);

-- Calendar 13: 5-4-4 weeks, years end on the Sunday closest to 30 September
-- (1 October in 2000).
INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (1, 13, 'Closest Sunday 5-4-4', 0);
INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)
  VALUES (1, 13, 1, '2000-10-02 00:00:00', NULL, 330, 1, 334, 337, 9, 0, 0);

-- Calendar 14: thirteen periods, years end on the Friday closest to 31 March.
INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (1, 14, 'Thirteen periods', 0);
INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)
  VALUES (1, 14, 1, '2001-03-31 00:00:00', NULL, 331, 6, 335, 337, 3, 0, 0);

-- Calendar 15: a custom year (1 January to 31 August 2010) between a December
-- and an August monthly cycle. CycleIDs are not in EffectiveDate order: the
-- earliest cycle has the highest CycleID.
INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (1, 15, 'Custom 2010', 1);
INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)
  VALUES (1, 15, 1, '2010-01-01 00:00:00', '2010-08-31 00:00:00', 332, 1, 334, 336, 8, 0, 1);
INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)
  VALUES (1, 15, 2, '2010-09-01 00:00:00', NULL, 327, 1, 334, 336, 8, 0, 1);
INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)
  VALUES (1, 15, 3, '2000-01-01 00:00:00', NULL, 327, 1, 334, 336, 12, 0, 0);

-- Calendar 16: no cycles at all.
INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (1, 16, 'No cycles', 0);

-- Calendar 17: 4-5-4 weeks, years end on the last Wednesday of June.
INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (1, 17, 'Last Wednesday 4-5-4', 0);
INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)
  VALUES (1, 17, 1, '2002-06-27 00:00:00', NULL, 329, 4, 333, 336, 6, 0, 0);

-- Company 2: books but no stored calendars; its collection stays empty.
INSERT INTO Company (CompanyID, BusnStart) VALUES (2, '1995-07-01 00:00:00');
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (2, 0, 6, 'T', 21);
