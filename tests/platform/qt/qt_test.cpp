#include "platform/qt/QtWidgetSet.h"
#include "platform/vcl/DemoForm.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

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
    pid_t pid = fork();
    if (pid == 0) {
        std::string exe = std::string(TORVO_BUILD_DIR) + "/tests/platform/vcl/copydata_sender";
        execl(exe.c_str(), exe.c_str(), "TQtTestCopyForm", "from afar", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    EXPECT_EQ(form.ShowModal(), mrYes);
    EXPECT_EQ(form.received, "from afar");
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Font configuration keeps caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
