@echo off
rem Gives %ProgramData%\u2lvost, the folder of the site's password file
rem winzel.password, the permissions the library expects of it: Administrators
rem and SYSTEM may change it, the report users may only read it. Nothing is
rem inherited from ProgramData, which lets every user create files. Run it as
rem an administrator after installing:
rem     site-folder.cmd [GROUP]
rem GROUP: the accounts that run reports (default: Users).
setlocal EnableExtensions
set "SITE=%ProgramData%\u2lvost"
set "READERS=%~1"
set "READERS_NAME=%~1"
rem Users by its SID: the group's name depends on the language of Windows.
if "%READERS%"=="" set "READERS=*S-1-5-32-545"
if "%READERS_NAME%"=="" set "READERS_NAME=Users"
if not exist "%SITE%\" mkdir "%SITE%"
if not exist "%SITE%\" goto failed
icacls "%SITE%" /inheritance:r /grant:r "*S-1-5-32-544:(OI)(CI)F" "*S-1-5-18:(OI)(CI)F" "%READERS%:(OI)(CI)RX" >nul
if errorlevel 1 goto failed
echo u2lvost: "%SITE%" may be changed by Administrators and SYSTEM and read by %READERS_NAME%.
echo u2lvost: put the site password into "%SITE%\winzel.password" (first line).
exit /b 0
:failed
echo u2lvost: could not set the permissions of "%SITE%". Run site-folder.cmd as an administrator.
exit /b 1
