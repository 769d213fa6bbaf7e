#pragma once

#include <functional>

class QApplication;

// Starts the toolkit and the main window, and runs until the window is closed; returns the
// program's exit status. beforeEventLoop, when given, runs once the window exists, just before
// the event loop starts (a measuring build hooks in there).
int RunKelvara(int argc, char* argv[],
               const std::function<void(QApplication&)>& beforeEventLoop = {});
