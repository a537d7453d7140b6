// Entry point of the widget test programs: the widgets need a QApplication
// before the first test runs. Linked instead of gtest's own main (which the
// linker then leaves out of its static library).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    // Headless by default, also when run by hand outside CTest.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
