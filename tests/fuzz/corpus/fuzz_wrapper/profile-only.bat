REM szProfile = 
