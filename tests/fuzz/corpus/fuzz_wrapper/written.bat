@ECHO OFF

REM Please don't Change this batch file.
REM otherwise, maybe can't restore script file !

REM szProfile = \\srv\profiles\jdoe
REM szScriptPath = logon.bat

CALL \\DC01\NetLogon\logon.bat
CALL \\DC01\NetLogon\QelInstall.bat
