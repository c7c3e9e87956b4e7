#include <QApplication>

#include <gtest/gtest.h>

// gtest_discover_tests runs this binary right after linking, outside ctest's
// environment, so the headless platform has to be chosen here.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
