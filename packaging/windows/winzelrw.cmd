@echo off
rem Defines WINZELRW, the system data source through which u2lvost.dll reads the
rem company database, for the 32-bit ODBC of this machine (the report engine is
rem 32-bit). Run it as an administrator:
rem     winzelrw.cmd DRIVER ["NAME=VALUE" ...]
rem     winzelrw.cmd "SQLite3 ODBC Driver" "Database=C:\data\company.db"
rem     winzelrw.cmd "PostgreSQL Unicode" "Servername=db1" "Port=5432" "Database=assets"
rem DRIVER is the name of an installed 32-bit ODBC driver. Quote every NAME=VALUE:
rem cmd splits unquoted arguments at "=". On 64-bit Windows the 32-bit reg.exe in
rem SysWOW64 writes the 32-bit registry view that 32-bit programs read.
setlocal EnableExtensions DisableDelayedExpansion
set "REG=%SystemRoot%\System32\reg.exe"
if exist "%SystemRoot%\SysWOW64\reg.exe" set "REG=%SystemRoot%\SysWOW64\reg.exe"
if "%~1"=="" goto usage
set "DRIVER=%~1"
set "DLL="
for /f "usebackq tokens=1,2,*" %%a in (`call "%REG%" query "HKLM\SOFTWARE\ODBC\ODBCINST.INI\%DRIVER%" /v Driver 2^>nul`) do (
  if /i "%%a"=="Driver" if /i "%%b"=="REG_SZ" set "DLL=%%c"
)
if not defined DLL goto nodriver
rem Every attribute is checked before anything is written.
set "BAD="
call :check %*
if defined BAD goto badattribute
set "KEY=HKLM\SOFTWARE\ODBC\ODBC.INI\WINZELRW"
rem A data source defined again keeps nothing of the old one's attributes.
"%REG%" delete "%KEY%" /f >nul 2>&1
"%REG%" add "%KEY%" /v Driver /d "%DLL%" /f >nul
if errorlevel 1 goto failed
:attribute
shift
if "%~1"=="" goto listed
set "NAME="
set "VALUE="
for /f "tokens=1,* delims==" %%a in ("%~1") do (
  set "NAME=%%a"
  set "VALUE=%%b"
)
"%REG%" add "%KEY%" /v "%NAME%" /d "%VALUE%" /f >nul
if errorlevel 1 goto failed
goto attribute
:listed
"%REG%" add "HKLM\SOFTWARE\ODBC\ODBC.INI\ODBC Data Sources" /v WINZELRW /d "%DRIVER%" /f >nul
if errorlevel 1 goto failed
echo u2lvost: defined the 32-bit system data source WINZELRW with the driver "%DRIVER%" (%DLL%).
exit /b 0
:usage
echo usage: winzelrw.cmd DRIVER ["NAME=VALUE" ...]
exit /b 2
:nodriver
echo u2lvost: no 32-bit ODBC driver named "%DRIVER%" is installed; nothing was defined.
exit /b 2
:badattribute
echo u2lvost: "%BAD%" is not NAME=VALUE; quote each attribute. Nothing was defined.
exit /b 2
:check
shift
if "%~1"=="" exit /b 0
set "VALUE="
for /f "tokens=1,* delims==" %%a in ("%~1") do set "VALUE=%%b"
if not defined VALUE (
  set "BAD=%~1"
  exit /b 0
)
goto check
:failed
echo u2lvost: %REG% could not write the data source. Run winzelrw.cmd as an administrator.
exit /b 1
