// Shared main of the card client tests: a QApplication (offscreen in CI) so
// sockets, timers and widgets all work, then GoogleTest.
#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
