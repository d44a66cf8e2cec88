@echo off
rem Registers the calendar engine vrzelcal.dll (beside this file) for the whole
rem machine. It is a 32-bit server: on 64-bit Windows the 32-bit regsvr32 lives in
rem SysWOW64. Run as an administrator. Exit status 0 when registered.
rem Paths are echoed in quotes: a folder name may hold & or parentheses.
setlocal
set "HERE=%~dp0"
set "ENGINE=%HERE%vrzelcal.dll"
set "REGSVR=%SystemRoot%\System32\regsvr32.exe"
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "REGSVR=%SystemRoot%\SysWOW64\regsvr32.exe"
if not exist "%ENGINE%" goto missing
"%REGSVR%" /s "%ENGINE%"
if errorlevel 1 goto failed
echo u2lvost: registered the calendar engine "%ENGINE%" with %REGSVR%.
echo u2lvost: the report engine loads the functions from "%HERE%u2lvost.dll"
echo u2lvost: through the 32-bit ODBC data source WINZELRW.
exit /b 0
:missing
echo u2lvost: vrzelcal.dll is missing in "%HERE%"; unpack the whole folder first.
exit /b 2
:failed
echo u2lvost: %REGSVR% could not register "%ENGINE%". Run install.cmd as an administrator.
exit /b 1
