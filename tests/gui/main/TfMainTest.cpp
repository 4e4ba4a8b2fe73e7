#include "gui/main/TfMain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

using tarnwick::gui::TfMain;

TEST(TfMain, OpensOnTheOffscreenPlatform)
{
    EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    TfMain window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Orvalent Tarnwick"));
    EXPECT_NE(window.findChild<QWidget*>(QStringLiteral("Presentation")), nullptr);
}
