-- Sample company database, schema version 4: calendars are built from each book's
-- year-end month (Book.OrigYrEnd), the company's start of business and the books'
-- short years. db/README.md lists what each company and book is there to show.

INSERT INTO VersionTable (AppID, ItemNumber, Info) VALUES (0, 0, '4.1');
-- Rows beside the version row: only AppID 0, ItemNumber 0 counts.
INSERT INTO VersionTable (AppID, ItemNumber, Info) VALUES (0, 1, '7.7');
INSERT INTO VersionTable (AppID, ItemNumber, Info) VALUES (1, 0, '9.9');

-- Company 1: the full company. Business start 1 April 1990; seven books with
-- seven different year ends, one of them without a Book row.
INSERT INTO Company (CompanyID, BusnStart) VALUES (1, '1990-04-01 00:00:00');
-- Book 0 (Tax): December year end, no short years.
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (1, 0, 12, 'T');
-- Book 1 (Internal): June year end, one short year ending 30 September 2001;
-- from then on years end in September.
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (1, 1, 6, 'T');
INSERT INTO BookShYr (CompanyID, BookID, ShortYrID, ShortYear) VALUES (1, 1, 1, '2001-09-30 00:00:00');
-- Book 2 (State): March year end, two short years, applied in ShortYrID order:
-- first 31 December 1998 (years then end in December), then 30 June 2004 (years
-- then end in June). The rows are stored out of ShortYrID order on purpose.
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (1, 2, 3, 'T');
INSERT INTO BookShYr (CompanyID, BookID, ShortYrID, ShortYear) VALUES (1, 2, 2, '2004-06-30 00:00:00');
INSERT INTO BookShYr (CompanyID, BookID, ShortYrID, ShortYear) VALUES (1, 2, 1, '1998-12-31 00:00:00');
-- Book 3 (AMT): September year end, closed.
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (1, 3, 9, 'F');
-- Book 4 (ACE): no Book row, so its year end defaults to December.
-- Book 5 (Book 6): January year end.
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (1, 5, 1, 'T');
-- Book 6 (Book 7): November year end, closed.
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (1, 6, 11, 'F');

-- Company 2: no Company row; its only open book ends its years in June, so the
-- business start falls back to 1 July 1920. The closed book does not count.
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (2, 0, 6, 'T');
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (2, 1, 3, 'F');

-- Company 3: no Company row; its open book has a December year end, so the
-- business start falls back to 1 January 1920.
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (3, 0, 12, 'T');
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (3, 1, 9, 'F');

-- Company 4: a Company row whose BusnStart is NULL: the start is the missing date
-- and the open books are not consulted (else it would be 1 July 1920).
INSERT INTO Company (CompanyID, BusnStart) VALUES (4, NULL);
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (4, 0, 6, 'T');

-- Company 5: business start 30 December 1899, the date whose serial is 0; it is
-- taken for "no date" and the open book decides: 1 October 1920.
INSERT INTO Company (CompanyID, BusnStart) VALUES (5, '1899-12-30 00:00:00');
INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (5, 0, 9, 'T');
