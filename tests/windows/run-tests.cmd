@echo off
rem Runs Halvorn's test programs against the programs of a release, as the Windows job
rem of the CI workflow does:
rem   run-tests.cmd RELEASE TESTS "x86 x64" [SCREENSHOTS]
rem RELEASE holds halvorn.exe and halvorn-x64.exe; TESTS holds, for each architecture
rem named, a folder with unit_tests.exe and e2e_tests.exe. Exits with the number of test
rem programs that failed: any exit status but 0 counts, and so does a program that is
rem missing or cannot start. Two end-to-end cases need Wine and a launcher on its Unix
rem side, where ctest runs them: they are left out here, and counted as skipped.
rem Before the tests of each architecture, e2e_tests.exe prepares the desktop: it
rem minimises the console and terminal windows, takes the foreground with a window of its
rem own, tries to set the session's foreground lock timeout to 0 (until logoff), and says
rem what Windows allowed, and describes the desktop. That only reports, and is not
rem counted: the cases judge whether each box comes to the front. A failing end-to-end
rem case keeps a picture of the screen, and its description, in SCREENSHOTS\ARCHITECTURE
rem when SCREENSHOTS is given.
rem Everything runs with Windows' own folders alone on PATH: a runner puts other DLLs on
rem it (MinGW's among them), and a program that loaded one there would fail on users'
rem machines. The test programs are linked statically and start halvorn.exe by its path.
setlocal
set "PATH=%SystemRoot%\System32;%SystemRoot%"
echo PATH=%PATH%
set release=%~f1
set tests=%~f2
set screenshots=
if not "%~4"=="" set screenshots=%~f4
set failed=0
for %%a in (%~3) do call :architecture %%a
echo %failed% test program(s) failed
exit /b %failed%

:architecture
set program=halvorn.exe
if "%1"=="x64" set program=halvorn-x64.exe
set keep=
if defined screenshots set keep="--screenshots=%screenshots%\%1"
echo == preparing the desktop, not counted
"%tests%\%1\e2e_tests.exe" --unlock-foreground --describe-desktop
call :run "%tests%\%1\unit_tests.exe"
call :run "%tests%\%1\e2e_tests.exe" "--program=%release%\%program%" %keep% "--test-case-exclude=*CallsThePlatformInOrder*,*TypedOnUnix*"
exit /b 0

rem "if errorlevel 1" would miss the negative statuses of a crash (0xC0000005) or of a
rem program Windows cannot load (0xC0000135).
:run
echo == %*
if not exist %1 (
    echo FAILED: %1 is missing
    set /a failed+=1
    exit /b 0
)
%*
if not "%errorlevel%"=="0" (
    echo FAILED: %~nx1 exited with %errorlevel%
    set /a failed+=1
)
exit /b 0
