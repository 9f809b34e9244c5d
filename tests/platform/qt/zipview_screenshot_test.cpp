#include "platform/qt/QtWidgetSet.h"
#include "readers/view/plxZipView.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdlib>

using namespace vcl;

// A few rows of the archive list view on screen, saved for a person to look at.
TEST(QtZipView, ScreenshotOfAFewRows)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (WidgetSet().Name() != "qt")
        SetWidgetSet(torvoqt::CreateQtWidgetSet());
    TForm form(nullptr);
    form.Caption = "Archive";
    form.SetClientWidth(640);
    form.SetClientHeight(160);
    auto* view = new TZipView(&form);
    view->SetParent(&form);
    view->SetAlign(alClient);
    view->Items.AddFields(
        {"readme.txt", "05.03.24  13:45", "812", "2035", "60%", "Deflated", "_a___ (32)", "docs\\"});
    view->Items.AddFields(
        {"backup;2024.zip", "31.12.23  23:59", "5000000000", "5000000000", "0%", "Stored", "_a___ (32)"});
    view->Items.AddFields(
        {"logo.png", "01.01.24  08:00", "4096", "4100", "0%", "Stored", "_a___ (32)", "img\\"});
    view->Items.AddFields(
        {"setup.exe", "02.02.24  12:00", "100000", "250000", "60%", "Deflated", "_a___ (32)"});
    view->SetSelected(1, true);
    form.Show();
    Application->ProcessMessages();
    std::string path = std::string(TORVO_BUILD_DIR) + "/zipview.png";
    ASSERT_TRUE(form.SaveScreenshot(path));
    QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 640);
    // The selected second row is green across its cells.
    int y = 2 + 21 + 2 + 16 + 8;
    QRgb p = image.pixel(300, y);
    EXPECT_EQ(RGB(qRed(p), qGreen(p), qBlue(p)), 0x008000);
    form.Hide();
}
