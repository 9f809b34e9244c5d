// The request's small windows as the Qt widgets show them: where a menu opens, its caption and
// drive pictures, the colour buttons and colour-keeping fields of the dialogs.
#include "app/lib/FormComm.h"
#include "app/lib/FormMenu.h"
#include "app/lib/FormPassword.h"
#include "app/lib/FormTorvo.h"
#include "app/lib/VEdit.h"
#include "app/lib/VListBox.h"
#include "app/qt/ManagerWindows.h"
#include "platform/qt/QtConvert.h"
#include "platform/qt/QtWidgetSet.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QTimer>

#include <cstdlib>
#include <filesystem>

using namespace vcl;
using namespace qtwindows;
namespace fs = std::filesystem;

namespace {

bool Shows(const QImage& image, QColor colour, QRect area = {})
{
    if (area.isNull())
        area = image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) == colour)
                return true;
    return false;
}

}  // namespace

TEST(RequestWindows, MenuOpensNearTheMainWindowWithItsCaptionWholeAndDrivePictures)
{
    UseQt();
    auto* main = new TFormTorvo(nullptr);
    main->EnsureCreated();
    TForm* previousMain = Application->MainForm;
    Application->MainForm = main;
    main->SetBounds(300, 200, 700, 500);
    main->Show();
    Application->ProcessMessages();

    // The target menu's pictures: a local disk shows its drive with the green lamp.
    ASSERT_EQ(11, main->ImageList1->Count());
    ASSERT_EQ(6, main->ImageList2->Count());
    SetMenuImageList(main->ImageList1);
    QRect placed, mainFrame = WindowOf(*main)->frameGeometry();
    int titleWidth = 0, windowWidth = 0;
    bool onTop = false, lampShown = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* menu = MenuForm();
        QWidget* window = menu && menu->IsModal() ? WindowOf(*menu) : nullptr;
        if (!window || menu->ModalResult != mrNone)
            return;
        placed = window->geometry();
        QFont bold = window->font();
        bold.setBold(true);
        titleWidth = QFontMetrics(bold).horizontalAdvance(window->windowTitle());
        windowWidth = window->width();
        onTop = window->windowFlags() & Qt::WindowStaysOnTopHint;
        QWidget* button = WidgetOf(*menu, *menu->Buttons().front());
        if (button) {
            const QImage image = button->grab().toImage();
            // The lamp of the drive picture, and no white box around the picture.
            const QRect inside(4, 4, 32, image.height() - 8);  // within the frame and the focus box
            lampShown = Shows(image, QColor(0, 0xC0, 0), inside) && !Shows(image, Qt::white, inside);
            image.save(QString::fromStdString((Shots / "torvo_target_menu_icons.png").string()));
        }
        window->grab().save(QString::fromStdString((Shots / "torvo_menu_placed.png").string()));
        menu->ModalResult = mrCancel;
    });
    timer.start(20);
    int number = 0;
    std::string text;
    EXPECT_EQ(MenuCancelled, BuildMenuForm("\x01\x02\x05\x13", number, text,
                                           "~Místní disky|Místní disk (C):‡C<C>…2†|Síťový disk (N):‡N<N>…3†",
                                           "Archivace dat licence 10001 na disk"));
    timer.stop();
    // Over the main window, not in the screen's corner; the caption has room beside the buttons.
    EXPECT_TRUE(mainFrame.contains(placed.topLeft())) << placed.x() << "," << placed.y();
    EXPECT_GE(windowWidth, titleWidth + 60);
    EXPECT_TRUE(onTop);
    EXPECT_TRUE(lampShown);
    Application->MainForm = previousMain;
    main->Hide();
    delete main;
}

TEST(RequestWindows, CommentButtonsPasswordEditsAndFieldsShowTheirColours)
{
    UseQt();
    // The comment dialog's buttons are colour buttons: the default one is lime.
    TfrmComm comment(nullptr);
    comment.EnsureCreated();
    comment.Show();
    Application->ProcessMessages();
    QWidget* ok = WidgetOf(comment, *comment.btnOK);
    ASSERT_NE(nullptr, ok);
    EXPECT_EQ(nullptr, qobject_cast<QAbstractButton*>(ok));
    EXPECT_TRUE(Shows(ok->grab().toImage(), QColor(0, 0xFF, 0)));
    WindowOf(comment)->grab().save(QString::fromStdString((Shots / "torvo_comment_buttons.png").string()));
    comment.Hide();

    // Unmasked, the confirmation follows the phrase, read-only and grey; masked it is typed.
    TfrmPassword2 password(nullptr);
    password.EnsureCreated();
    password.Show();
    Application->ProcessMessages();
    auto* confirm = qobject_cast<QLineEdit*>(WidgetOf(password, *password.Edit2));
    ASSERT_NE(nullptr, confirm);
    const QColor grey = torvoqt::ToQColor(clBtnFace);
    EXPECT_TRUE(confirm->isReadOnly());
    EXPECT_EQ(grey, confirm->palette().color(QPalette::Base));
    EXPECT_TRUE(Shows(confirm->grab().toImage(), grey));
    password.CheckBox1->SetChecked(true);
    Application->ProcessMessages();
    EXPECT_FALSE(confirm->isReadOnly());
    EXPECT_NE(grey, confirm->palette().color(QPalette::Base));
    password.Hide();

    // A labelled edit and a list box take their focus colour and the edit its disabled colour.
    TForm form(nullptr);
    form.Caption = "Fields";
    form.SetClientWidth(300);
    form.SetClientHeight(200);
    auto* edit = new TVLabeledEdit(&form);
    edit->SetParent(&form);
    edit->SetBounds(10, 30, 200, 22);
    auto* other = new TVLabeledEdit(&form);
    other->SetParent(&form);
    other->SetBounds(10, 70, 200, 22);
    auto* list = new TVListBox(&form);
    list->SetParent(&form);
    list->SetBounds(10, 100, 200, 80);
    list->Items.Add("b");
    list->Items.Add("a");
    form.EnsureCreated();
    form.Show();
    Application->ProcessMessages();
    auto* field = qobject_cast<QLineEdit*>(WidgetOf(form, *edit));
    ASSERT_NE(nullptr, field);
    field->setFocus();
    Application->ProcessMessages();
    EXPECT_EQ(torvoqt::ToQColor(edit->ColorOnFocus), field->palette().color(QPalette::Base));
    WidgetOf(form, *list)->setFocus();
    Application->ProcessMessages();
    EXPECT_EQ(torvoqt::ToQColor(clWindow), field->palette().color(QPalette::Base));
    EXPECT_TRUE(Shows(WidgetOf(form, *list)->grab().toImage(), torvoqt::ToQColor(list->ColorOnFocus)));
    other->SetEnabled(false);
    Application->ProcessMessages();
    auto* disabled = qobject_cast<QLineEdit*>(WidgetOf(form, *other));
    ASSERT_NE(nullptr, disabled);
    EXPECT_EQ(torvoqt::ToQColor(clBtnFace), disabled->palette().color(QPalette::Base));
    other->SetEnabled(true);
    Application->ProcessMessages();
    EXPECT_EQ(torvoqt::ToQColor(clWindow), disabled->palette().color(QPalette::Base));
    WindowOf(form)->grab().save(QString::fromStdString((Shots / "torvo_field_colours.png").string()));
    form.Hide();
}
