#include "framework/WinApp.h"

// The application object registers itself during static initialisation; the framework's
// main routine runs it.
int main(int argc, char** argv) { return fw::AppMain(argc, argv); }
