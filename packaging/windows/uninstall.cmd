@echo off
rem Unregisters the calendar engine vrzelcal.dll (beside this file) with the
rem 32-bit regsvr32. Run as an administrator before deleting the folder. Paths
rem are echoed in quotes: a folder name may hold & or parentheses.
setlocal
set "HERE=%~dp0"
set "ENGINE=%HERE%vrzelcal.dll"
set "REGSVR=%SystemRoot%\System32\regsvr32.exe"
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "REGSVR=%SystemRoot%\SysWOW64\regsvr32.exe"
"%REGSVR%" /u /s "%ENGINE%"
if errorlevel 1 goto failed
echo u2lvost: unregistered the calendar engine "%ENGINE%" with %REGSVR%.
echo u2lvost: the folder "%HERE%" may now be deleted.
exit /b 0
:failed
echo u2lvost: %REGSVR% could not unregister "%ENGINE%". Run uninstall.cmd as an administrator.
exit /b 1
