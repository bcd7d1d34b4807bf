@ECHO OFF
REM Checks every host named in a list file (one name or address per line)
REM and sorts them by the result. Usage: check-hosts.bat hosts.txt [switches]
REM Extra switches go to every run, for example: check-hosts.bat hosts.txt /C SALES /T CORP
SETLOCAL

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
REM IF ERRORLEVEL n is true for n and every higher code, so the highest come
REM first. The added-up codes 112, 144 and 176 lie above 99: they are caught
REM before 99 is tested. Nothing may run between the program and these tests.
IF ERRORLEVEL 100 GOTO late
IF ERRORLEVEL 99 GOTO invalid
IF ERRORLEVEL 16 GOTO late
IF ERRORLEVEL 9 GOTO usage
IF ERRORLEVEL 8 GOTO domain
IF ERRORLEVEL 4 GOTO name
IF ERRORLEVEL 2 GOTO access
IF ERRORLEVEL 1 GOTO down
ECHO %1: ready
SET /A READY+=1
GOTO :EOF

:invalid
CALL :report %1 99 "bad host name or switch"
GOTO :EOF
:usage
CALL :report %1 9 "usage shown, check the switches"
GOTO :EOF
:domain
CALL :report %1 8 "wrong domain or already migrated"
GOTO :EOF
:name
CALL :report %1 4 "computer name does not match"
GOTO :EOF
:access
CALL :report %1 2 "no network management access"
GOTO :EOF
:down
CALL :report %1 1 "not resolvable or not answering"
GOTO :EOF

:late
REM 16, 32, 64 and 128 add up; take the code apart bit by bit.
SET CODE=%ERRORLEVEL%
SET TEXT=failed:
SET /A BIT=(CODE / 16) %% 2
IF %BIT%==1 SET TEXT=%TEXT% admin$-share
SET /A BIT=(CODE / 32) %% 2
IF %BIT%==1 SET TEXT=%TEXT% role
SET /A BIT=(CODE / 64) %% 2
IF %BIT%==1 SET TEXT=%TEXT% os-version
SET /A BIT=(CODE / 128) %% 2
IF %BIT%==1 SET TEXT=%TEXT% remote-registry
CALL :report %1 %CODE% "%TEXT%"
GOTO :EOF

:report
ECHO %1: %~3 (errorlevel %2)
SET /A PROBLEM+=1
GOTO :EOF
