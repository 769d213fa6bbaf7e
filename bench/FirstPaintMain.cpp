// The real program, built to quit once its window has been drawn, so that a run covers exactly
// "from start until the window is first drawn".
#include "FirstPaint.h"
#include "Startup.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    return RunKelvara(argc, argv, [](QApplication& app) { new QuitAfterFirstPaint(&app); });
}
