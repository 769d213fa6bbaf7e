// Kelvara's entry: starts the toolkit and the main window, and runs until the window closes.
#include "Startup.h"

int main(int argc, char* argv[]) { return RunKelvara(argc, argv); }
