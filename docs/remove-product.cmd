@echo off
rem Removes the product, then, only when the removal succeeded, what it
rem leaves behind. Sweepup deletes every user's root key file and its
rem backups: files encrypted with them can no longer be decrypted.
rem The exit code is the uninstaller's: 0, 3010 or 1641 success (with a
rem restart for 3010 and 1641), 1618 retry, anything else failure.
"%~dp0Uninstall.exe" /silent
set rc=%errorlevel%
echo Uninstall.exe returned %rc%
if "%rc%"=="0" goto sweep
if "%rc%"=="3010" goto sweep
if "%rc%"=="1641" goto sweep
echo The removal did not succeed: Sweepup.exe was not run.
exit /b %rc%
:sweep
"%~dp0Sweepup.exe" /Uninstall
echo Sweepup.exe returned %errorlevel%
exit /b %rc%
