REM szScriptPath = logon.bat
