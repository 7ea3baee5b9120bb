// The test program's entry: the application object on the stack for the whole run.
#include <gtest/gtest.h>

#include <QApplication>

#include "tests/textsearch/renderpanel/panelapp.h"

int main(int argc, char** argv) {
    PreparePanelPlatform();
    QApplication app(argc, argv);
    LoadPanelFonts();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
