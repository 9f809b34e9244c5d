#include "platform/qt/QtWidgetSet.h"
#include "platform/vcl/DemoForm.h"
#include "support/Child.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTimer>

#include <chrono>
#include <cstdlib>

using namespace vcl;

namespace {

void UseQtOffscreen()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    SetWidgetSet(torvoqt::CreateQtWidgetSet());
}

TColor PixelOf(const QImage& image, int x, int y)
{
    QRgb p = image.pixel(x, y);
    return RGB(qRed(p), qGreen(p), qBlue(p));
}

}  // namespace

TEST(QtWidgetSet, ScreenshotShowsTheControlsAtTheirPositions)
{
    UseQtOffscreen();
    ASSERT_EQ(WidgetSet().Name(), "qt");
    demo::TDemoForm form(nullptr);
    form.Show();
    form.edit->SetText("typed");
    Application->ProcessMessages();
    std::string path = ::testing::TempDir() + "/demo_form.png";
    ASSERT_TRUE(form.SaveScreenshot(path));
    QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    ASSERT_EQ(image.width(), 400);
    ASSERT_EQ(image.height(), 300);
    EXPECT_EQ(PixelOf(image, 200, 20), clRed);
    EXPECT_EQ(PixelOf(image, 30, 150), clLime);
    EXPECT_EQ(PixelOf(image, 375, 150), clBlue);
    EXPECT_EQ(PixelOf(image, 60 + 200, 40 + 60), clYellow);
    EXPECT_EQ(PixelOf(image, 60 + 8 + 85, 40 + 30 + 2 + 5), clFuchsia);  // owner drawn through QPainter
    EXPECT_EQ(PixelOf(image, 60 + 8 + 85, 40 + 30 + 2 + 21), clAqua);
    EXPECT_EQ(PixelOf(image, 60 + 255, 40 + 205), clTeal);
    EXPECT_EQ(PixelOf(image, 60 + 268, 40 + 188), clNavy);
    // A native edit sits where the edit is: not the yellow of its panel.
    EXPECT_NE(PixelOf(image, 60 + 70 + 50, 40 + 4 + 10), clYellow);
    form.Hide();
}

namespace {
class TQtCopyForm : public TForm {
public:
    using TForm::TForm;
    std::string ClassName() const override { return "TQtTestCopyForm"; }
    void WMCopyData(TWMCopyData& m) override
    {
        received.assign(static_cast<const char*>(m.CopyDataStruct->lpData), m.CopyDataStruct->cbData);
        m.Result = 5;
        ModalResult = mrYes;
    }
    std::string received;
};
}  // namespace

TEST(QtWidgetSet, CopyDataFromAnotherProcessEndsAModalForm)
{
    UseQtOffscreen();
    TQtCopyForm form(nullptr);
    form.Handle();
    testsupport::Child sender({std::string(TORVO_BUILD_DIR) + "/tests/platform/vcl/copydata_sender", "TQtTestCopyForm",
                               "from afar"});
    ASSERT_TRUE(sender.Started());
    // The form waits for the request, but not after the sender is gone or too slow.
    const auto end = std::chrono::steady_clock::now() + testsupport::PeerDeadline;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (form.ModalResult == mrNone && (std::chrono::steady_clock::now() > end || !sender.Running()))
            form.ModalResult = mrAbort;
    });
    watchdog.start(50);
    EXPECT_EQ(form.ShowModal(), mrYes);
    watchdog.stop();
    EXPECT_EQ(form.received, "from afar");
    EXPECT_EQ(sender.Wait(), 0);
}

// Font configuration keeps caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
