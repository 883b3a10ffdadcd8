// Start-up and the run loop of the updater.
#pragma once

// The program: parses the command line, opens the log, runs the update and
// closes the log. 0 after a successful update, -1 after any failure. Both
// entry points (WinMain, main) call it.
int UpdaterMain(int argc, char** argv);

// Fills the updater folder (from argv[0]), the log request and path (-L)
// and the game arguments (-R). argv[1] is the script; options come after it.
void ParseCommandLine(int argc, char** argv);

// Runs the script at scriptPath (may be null). 1 when the script ran to its
// end and the completion step ran; 0 after a failure that has been shown.
int RunUpdate(const char* scriptPath);

// Starts MainPath + "MX.exe" with the -R text, without waiting for it; a
// game that cannot be started is reported with "Error starting program ".
void LaunchGame();
