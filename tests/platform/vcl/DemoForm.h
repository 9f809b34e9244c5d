// A form with one control of every kind, built in code, shared by the tests of both widget sets.
#pragma once

#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Menus.h"

namespace demo {

using namespace vcl;

class TDemoForm : public TForm {
public:
    explicit TDemoForm(TComponent* owner) : TForm(owner)
    {
        Caption = "Demo";
        Menu = new TMainMenu(this);
        SetClientWidth(400);
        SetClientHeight(300);
        auto* file = NewItem(this, "&File");
        Menu->Items()->Add(file);
        file->Add(NewItem(this, "&Open", ShortCut('O', ssCtrl), [this](TObject*) { ++opened; }));
        top = Make<TPanel>(alTop, 0, 0, 0, 40, clRed);
        bottom = new TStatusBar(this);
        bottom->SetParent(this);
        bottom->AddPanel("Ready", 100);
        bottom->AddPanel("", 100);
        left = Make<TPanel>(alLeft, 0, 0, 60, 0, clLime);
        right = Make<TPanel>(alRight, 0, 0, 50, 0, clBlue);
        client = Make<TPanel>(alClient, 0, 0, 0, 0, clYellow);
        client->BevelOuter = bvNone;
        label = Child<TLabel>(8, 4, 60, 13);
        label->SetCaption("&Name:");
        edit = Child<TEdit>(70, 4, 100, 21);
        edit->MaxLength = 5;
        check = Child<TCheckBox>(180, 4, 80, 17);
        check->Caption = "Check";
        list = Child<TListBox>(8, 30, 100, 60);
        list->Style = lbOwnerDrawFixed;
        list->ItemHeight = 16;
        list->Items.Add("beta");
        list->Items.Add("alpha");
        list->OnDrawItem = [this](TWinControl*, int index, const TRect& r, TOwnerDrawState) {
            list->Canvas.Brush.Color = index % 2 ? clAqua : clFuchsia;
            list->Canvas.FillRect(r);
            list->Canvas.TextOut(r.Left + 2, r.Top, list->Items[index]);
        };
        combo = Child<TComboBox>(120, 30, 100, 21);
        combo->Style = csDropDownList;
        combo->Items.Add("one");
        combo->Items.Add("two");
        memo = Child<TMemo>(230, 30, 60, 40);
        view = Child<TListView>(8, 100, 200, 80);
        view->AddColumn("Name", 100);
        view->AddColumn("Size", 60, taRightJustify);
        header = new THeaderControl(this);
        header->SetParent(client);
        header->SetAlign(alNone);
        header->SetBounds(220, 100, 60, 17);
        header->AddSection("A", 30);
        header->AddSection("B", 30);
        radio = Child<TRadioGroup>(8, 185, 100, 40);
        radio->Caption = "Mode";
        radio->Items.Add("Fast");
        radio->Items.Add("Safe");
        group = Child<TGroupBox>(120, 185, 60, 40);
        progress = Child<TProgressBar>(190, 185, 50, 16);
        progress->SetPosition(50);
        scroll = Child<TScrollBar>(190, 205, 50, 16);
        bevel = Child<TBevel>(250, 185, 10, 10);
        image = Child<TImage>(265, 185, 8, 8);
        image->Picture = TBitmap(8, 8, clNavy);
        paint = Child<TPaintBox>(250, 200, 20, 20);
        paint->OnPaint = [this](TObject*) {
            paint->Canvas.Brush.Color = clTeal;
            paint->Canvas.FillRect(paint->ClientRect());
        };
        ok = Child<TButton>(190, 225, 40, 25);
        ok->Caption = "OK";
        ok->ModalResult = mrOk;
        ok->Default = true;
        cancel = Child<TBitBtn>(235, 225, 50, 25);
        cancel->SetKind(bkCancel);
        speed = Child<TSpeedButton>(8, 230, 23, 22);
        box = Child<TScrollBox>(40, 230, 40, 20);
        labelled = Child<TLabeledEdit>(120, 250, 60, 21);
        labelled->EditLabel()->SetCaption("Lab");
    }
    int opened = 0;
    TPanel *top, *left, *right, *client;
    TStatusBar* bottom;
    TLabel* label;
    TEdit* edit;
    TCheckBox* check;
    TListBox* list;
    TComboBox* combo;
    TMemo* memo;
    TListView* view;
    THeaderControl* header;
    TRadioGroup* radio;
    TGroupBox* group;
    TProgressBar* progress;
    TScrollBar* scroll;
    TBevel* bevel;
    TImage* image;
    TPaintBox* paint;
    TButton* ok;
    TBitBtn* cancel;
    TSpeedButton* speed;
    TScrollBox* box;
    TLabeledEdit* labelled;

private:
    template <class T>
    T* Make(TAlign align, int l, int t, int w, int h, TColor color)
    {
        T* c = new T(this);
        c->SetParent(this);
        c->SetBounds(l, t, w, h);
        c->SetAlign(align);
        c->Color = color;
        return c;
    }
    template <class T>
    T* Child(int l, int t, int w, int h)
    {
        T* c = new T(this);
        c->SetParent(client);
        c->SetBounds(l, t, w, h);
        return c;
    }
};

}  // namespace demo
