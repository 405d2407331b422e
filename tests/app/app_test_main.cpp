// Widget tests need a QApplication; test discovery runs this binary at build time, where no
// display may exist, so the offscreen platform is the default.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tollwick"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
