-- Company database tables read by the library (read only). One script for SQLite
-- and PostgreSQL: plain integers, varchar texts, TIMESTAMP dates (time of day
-- unused), IsOpen 'T' or 'F'. Names are unquoted, so PostgreSQL folds them to
-- lower case and the library's unquoted statements find them on both.
-- No foreign keys: the tests load odd data (a cycle without its calendar, a book
-- without its company) on purpose.

-- Schema version of the database: AppID 0, ItemNumber 0 holds '4.1', '5.0', ...
CREATE TABLE VersionTable (
  AppID      INTEGER     NOT NULL,
  ItemNumber INTEGER     NOT NULL,
  Info       VARCHAR(20),
  PRIMARY KEY (AppID, ItemNumber)
);

-- One row per company; BusnStart is its start of business.
CREATE TABLE Company (
  CompanyID INTEGER NOT NULL PRIMARY KEY,
  BusnStart TIMESTAMP
);

-- Books 0..7 of a company. OrigYrEnd: month (1..12) the book's fiscal years end
-- in. CalendarID (schema 5): the book's stored calendar.
CREATE TABLE Book (
  CompanyID  INTEGER NOT NULL,
  BookID     INTEGER NOT NULL,
  OrigYrEnd  INTEGER,
  IsOpen     CHAR(1) NOT NULL DEFAULT 'T' CHECK (IsOpen IN ('T', 'F')),
  CalendarID INTEGER,
  PRIMARY KEY (CompanyID, BookID)
);

-- Short years of a book, applied in ShortYrID order: the fiscal year containing
-- ShortYear ends in ShortYear's month, and so do the years after it.
CREATE TABLE BookShYr (
  CompanyID INTEGER   NOT NULL,
  BookID    INTEGER   NOT NULL,
  ShortYrID INTEGER   NOT NULL,
  ShortYear TIMESTAMP,
  PRIMARY KEY (CompanyID, BookID, ShortYrID)
);

-- Stored calendars (schema 5).
CREATE TABLE Calendar (
  CompanyID    INTEGER NOT NULL,
  CalendarID   INTEGER NOT NULL,
  CalendarName VARCHAR(255),
  UpdateFlag   INTEGER,
  PRIMARY KEY (CompanyID, CalendarID)
);

-- Cycles of a stored calendar (schema 5). CycleType 327 monthly, 328 4-4-5,
-- 329 4-5-4, 330 5-4-4, 331 thirteen periods, 332 custom (EffectiveDate to
-- EndDate); DayOfWeek 1 Sunday .. 7 Saturday; PDCounting 333 forward,
-- 334 backward, 335 backward old month; YearEndElection 336 last weekday of the
-- month, 337 weekday closest to the month's end.
CREATE TABLE CycleObject (
  CompanyID       INTEGER   NOT NULL,
  CalendarID      INTEGER   NOT NULL,
  CycleID         INTEGER   NOT NULL,
  EffectiveDate   TIMESTAMP,
  EndDate         TIMESTAMP,
  CycleType       INTEGER,
  DayOfWeek       INTEGER,
  PDCounting      INTEGER,
  YearEndElection INTEGER,
  FYEndMonth      INTEGER,
  YearOffset      INTEGER,
  UpdateFlag      INTEGER,
  PRIMARY KEY (CompanyID, CalendarID, CycleID)
);
