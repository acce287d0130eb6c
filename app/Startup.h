// The start-up routines, called in order from main(): from the process's arguments to a running
// event loop with the main window open.
#pragma once

class App;

/// Runs the whole program; returns its exit code.
int Main(int& argc, char** argv);

/// High-DPI settings, then the application object.
App* EarlyStartup(int& argc, char** argv);

/// The tool has no document file types: nothing to register.
void InitFileTypes();

/// Creates the application object with its version data and the shared menu bar.
App* NewAppInstance(int& argc, char** argv);

/// Opens the main window.
void LateStartup();
void MakeDefaultView();
