@ECHO OFF
REM Checks every host named in a list file (one name or address per line)
REM and sorts them by the result. Usage: check-hosts.bat hosts.txt [switches]
REM Extra switches go to every run, for example: check-hosts.bat hosts.txt /C SALES /T CORP
SETLOCAL ENABLEDELAYEDEXPANSION

IF "%~1"=="" (
  ECHO Usage: %~nx0 host-list-file [switches]
  EXIT /B 1
)
IF NOT EXIST "%~1" (
  ECHO Host list "%~1" not found.
  EXIT /B 1
)

SET LIST=%~1
SHIFT
SET SWITCHES=
:collect
IF "%~1"=="" GOTO run
SET SWITCHES=%SWITCHES% %1
SHIFT
GOTO collect

:run
SET READY=0
SET PROBLEM=0
FOR /F "usebackq eol=; tokens=1" %%H IN ("%LIST%") DO CALL :check %%H
ECHO.
ECHO Ready: %READY%   With problems: %PROBLEM%
ENDLOCAL
EXIT /B 0

:check
quorvex.exe /M %1 /Q %SWITCHES%
SET CODE=%ERRORLEVEL%
REM 99 is tested exactly: the added-up codes 112, 144 and 176 are above it.
IF %CODE% EQU 99 ( SET "TEXT=bad host name or switch" & GOTO report )
REM IF ERRORLEVEL n is true for n and every higher code: highest first.
IF ERRORLEVEL 16 GOTO late
IF ERRORLEVEL 9 ( SET "TEXT=usage shown, check the switches" & GOTO report )
IF ERRORLEVEL 8 ( SET "TEXT=wrong domain or already migrated" & GOTO report )
IF ERRORLEVEL 4 ( SET "TEXT=computer name does not match" & GOTO report )
IF ERRORLEVEL 2 ( SET "TEXT=no network management access" & GOTO report )
IF ERRORLEVEL 1 ( SET "TEXT=not resolvable or not answering" & GOTO report )
ECHO %1: ready
SET /A READY+=1
GOTO :EOF

:late
REM 16, 32, 64 and 128 add up; take the code apart bit by bit.
SET TEXT=
SET /A BIT=(CODE / 16) %% 2
IF !BIT!==1 SET TEXT=!TEXT! admin$-share
SET /A BIT=(CODE / 32) %% 2
IF !BIT!==1 SET TEXT=!TEXT! role
SET /A BIT=(CODE / 64) %% 2
IF !BIT!==1 SET TEXT=!TEXT! os-version
SET /A BIT=(CODE / 128) %% 2
IF !BIT!==1 SET TEXT=!TEXT! remote-registry
SET TEXT=failed:%TEXT%

:report
ECHO %1: %TEXT% (errorlevel %CODE%)
SET /A PROBLEM+=1
GOTO :EOF
