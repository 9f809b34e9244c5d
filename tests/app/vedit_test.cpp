#include "app/lib/VEdit.h"
#include "platform/vcl/Headless.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vcl;
using namespace vedit;

namespace {

const TClock Day2022{2022, 6, 15, 14, 37, 9, 250};

std::string OnExit(const std::string& mask, const std::string& text, TMaskOn mode, const TClock& now = Day2022)
{
    return ReviseMaskText(mask, text, moNone, mode, now);
}

class TEditForm : public TForm {
public:
    explicit TEditForm(TComponent* owner) : TForm(owner)
    {
        SetClientWidth(300);
        SetClientHeight(120);
        field = new TVLabeledEdit(this);
        field->SetParent(this);
        field->SetBounds(5, 20, 150, 21);
        next = new TEdit(this);
        next->SetParent(this);
        next->SetBounds(5, 60, 100, 21);
    }
    TVLabeledEdit* field;
    TEdit* next;
};

// Shows a form whose field has the focus; setup runs before loading.
template <class Setup>
std::unique_ptr<TEditForm> Shown(Setup setup)
{
    auto form = std::make_unique<TEditForm>(nullptr);
    setup(*form->field);
    form->Show();
    form->SetActiveControl(form->field);
    return form;
}

}  // namespace

TEST(VEditRules, DateYearsWindowDaysAndCompletion)
{
    EXPECT_EQ("05.03.2022", OnExit("!99.99.9999", "05.03.22__", moRevision));
    EXPECT_EQ("05.03.1923", OnExit("!99.99.9999", "05.03.23__", moRevision, TClock{2002, 1, 1}));
    // Two digits up to this year's are this century, later ones the last: the window moves.
    EXPECT_EQ("05.03.1923", OnExit("!99.99.9999", "05.03.23__", moRevision));
    const TClock Day2026{2026, 12, 7, 10, 0, 0, 0};
    EXPECT_EQ("05.03.2023", OnExit("!99.99.9999", "05.03.23__", moRevision, Day2026));
    EXPECT_EQ("05.03.2026", OnExit("!99.99.9999", "05.03.26__", moRevision, Day2026));
    EXPECT_EQ("05.03.1927", OnExit("!99.99.9999", "05.03.27__", moRevision, Day2026));
    EXPECT_EQ("05.03.1942", OnExit("!99.99.9999", "05.03.42__", moRevision));
    EXPECT_EQ("05.03.2022", OnExit("!99.99.9999", "05.03.150_", moRevision));
    EXPECT_EQ("05.03.2007", OnExit("!99.99.9999", "05.03.7___", moRevision));
    // Only the day typed: month 01, this year.
    EXPECT_EQ("05.01.2022", OnExit("!99.99.9999", "5_.__.____", moRevision));
    EXPECT_EQ("", OnExit("!99.99.9999", "__.__.____", moRevisionSpec));
    EXPECT_EQ("", OnExit("!99.99.9999", "__.__.____", moRevision));
    EXPECT_EQ("15.06.2022", OnExit("!99.99.9999", "__.__.____", moRevisionSys));
    EXPECT_EQ("15.06.2022", OnExit("!99.99.9999", "__.__.____", moSystem));
    EXPECT_EQ("30.04.2021", OnExit("!99.99.9999", "31.04.2021", moRevision));
    EXPECT_EQ("28.02.2021", OnExit("!99.99.9999", "29.02.2021", moRevision));
    EXPECT_EQ("29.02.2024", OnExit("!99.99.9999", "29.02.2024", moRevision));
    EXPECT_EQ("05.01.2022", OnExit("!99.99.9999", "45.__.____", moRevision));
    EXPECT_EQ("15.06.2022", OnExit("!99.99.9999", "45.__.____", moRevisionSys));
    EXPECT_EQ("07.03.09", OnExit("!99.99.99", "07.03.9_", moRevision));
    EXPECT_EQ("07.03", OnExit("!99.99", "7_.3_", moRevision));
    // A letter leaves the text alone; an unknown mask and moNone are not revised.
    EXPECT_EQ("0a.03.2022", OnExit("!99.99.9999", "0a.03.2022", moRevision));
    EXPECT_EQ("1_.1_", OnExit("!99-99", "1_.1_", moRevision));
    EXPECT_EQ("5_.__.____", OnExit("!99.99.9999", "5_.__.____", moNone));
}

TEST(VEditRules, TimesKeepHour24AndMinute60)
{
    EXPECT_EQ("23:59", OnExit("!99:99", "23:59", moRevision));
    EXPECT_EQ("24:00", OnExit("!99:99", "24:00", moRevision));
    EXPECT_EQ("10:60", OnExit("!99:99", "10:60", moRevision));
    EXPECT_EQ("05:01", OnExit("!99:99", "25:61", moRevision));
    EXPECT_EQ("14:37", OnExit("!99:99", "25:61", moRevisionSys));
    EXPECT_EQ("10:20:60", OnExit("!99:99:99", "10:20:60", moRevision));
    EXPECT_EQ("05:07", OnExit("!99:99", "35:7_", moRevision));
    EXPECT_EQ("14:37", OnExit("!99:99", "35:__", moRevisionSys));
    EXPECT_EQ("35:07", OnExit("?99:99", "35:7_", moRevision));
    EXPECT_EQ("08:__", OnExit("!99:15", "08:20", moRevision));
    EXPECT_EQ("08:45", OnExit("!99:15", "08:45", moRevision));
    EXPECT_EQ("08:__", OnExit("!99:15", "08:60", moRevision));
    EXPECT_EQ("08:__", OnExit("!99:15", "08:75", moRevision));
    EXPECT_EQ("01:02:03.004", OnExit("!99:99:99.999", "1_:2_:3_.4__", moRevision));
    EXPECT_EQ("14:37:09.250", OnExit("!99:99:99.999", "__:__:__.___", moSystem));
    EXPECT_EQ("14:37:09", OnExit("!99:99:99", "__:__:__", moSystem));
}

TEST(VEditRules, MaskEditing)
{
    TMaskLayout date = LayoutOf("!99.99.9999");
    EXPECT_EQ("__.__.____", date.EmptyText());
    TMaskEdit r = EditMasked(date, "__.__.____", 0, 0, mkChar, '1');
    EXPECT_EQ("1_.__.____", r.Text);
    r = EditMasked(date, r.Text, r.Caret, 0, mkChar, '2');
    EXPECT_EQ("12.__.____", r.Text);
    EXPECT_EQ(3, r.Caret);                            // over the literal
    r = EditMasked(date, r.Text, 3, 0, mkBackspace);  // over the literal to the digit
    EXPECT_EQ("1_.__.____", r.Text);
    EXPECT_EQ(1, r.Caret);
    EXPECT_EQ("23_.45", EditMasked(LayoutOf("!999.99"), "123.45", 0, 0, mkDelete).Text);
    EXPECT_EQ("9_.__.2022", EditMasked(date, "12.03.2022", 0, 5, mkChar, '9').Text);
    EXPECT_EQ("12.03.2022", EditMasked(date, "12.03.2022", 10, 0, mkChar, '9').Text);

    TMaskLayout phone = LayoutOf("999-999");
    r = EditMasked(phone, "12_-___", 1, 0, mkChar, '7');
    EXPECT_EQ("172-___", r.Text);
    r = EditMasked(phone, "123-456", 0, 0, mkChar, '9');
    EXPECT_EQ("912-345", r.Text);  // the last digit falls off
    EXPECT_EQ("124-56_", EditMasked(phone, "123-456", 3, 0, mkBackspace).Text);
    EXPECT_EQ("123-456", EditMasked(phone, "123-456", 7, 0, mkChar, '1').Text);
    EXPECT_EQ("145-6__", EditMasked(phone, "123-456", 1, 3, mkDelete).Text);
}

TEST(VEditRules, NumbersAndTheirChecks)
{
    EXPECT_EQ("1 234 567,50", NumberText(1234567.5, 2, 3, ','));
    EXPECT_EQ("0,00", NumberText(-0.00001, 2, 3, ','));
    EXPECT_EQ("-12", NumberText(-12.4, 0, 3, ','));
    EXPECT_EQ(-1234.5, ReadNumber("-1 234,5", ',').value());
    EXPECT_FALSE(ReadNumber("-", ','));
    EXPECT_EQ("-1 234 567", DisplayNumberText("-1234567,891", 0, 3, ','));
    // The minus is a character of the integer part when it is grouped.
    EXPECT_EQ("- 123 456", DisplayNumberText("-123456", 0, 3, ','));
    EXPECT_EQ("-12 345,50", DisplayNumberText("-12345,50", 2, 3, ','));
    EXPECT_EQ("- 12", DisplayNumberText("-12", 0, 2, ','));
    EXPECT_EQ("1 234,89", DisplayNumberText("1234,891", 2, 3, ','));

    TNumberLimits positive{naOnlyPositive};
    EXPECT_EQ("Zadání je pouze pro kladná čísla.\n0,00 nevyhovuje.", CheckNumber("0", 0.0, positive, ','));
    EXPECT_FALSE(CheckNumber("0", 0.0, TNumberLimits{naPositive}, ','));
    EXPECT_TRUE(CheckNumber("-1", -1.0, TNumberLimits{naPositive}, ','));
    // A "%" in the entered text is text, not a format.
    EXPECT_EQ("Zadaná číselná hodnota \"5%s%n\" není číslo !", CheckNumber("5%s%n", std::nullopt, {}, ','));
    EXPECT_FALSE(CheckNumber("-1000", -1000.0, TNumberLimits{}, ','));
    EXPECT_EQ("Minimální číselná hodnota je \"0\"", CheckNumber("-1", -1.0, TNumberLimits{naUnspecified, 0, 100}, ','));
    EXPECT_EQ("Maximální číselná hodnota je \"100\"",
              CheckNumber("101", 101.0, TNumberLimits{naUnspecified, 0, 100}, ','));
    EXPECT_EQ("Maximální číselná hodnota je \"0\"", CheckNumber("1", 1.0, TNumberLimits{naUnspecified, -50, 0}, ','));
    EXPECT_FALSE(CheckNumber("-50", -50.0, TNumberLimits{naUnspecified, -50, 0}, ','));
}

TEST(VEdit, RequiredFieldKeepsFocusAndReports)
{
    std::vector<std::string> errors;
    auto form = Shown([&](TVLabeledEdit& f) {
        f.Required = true;
        f.OnError = [&](TObject*, const std::string& msg) { errors.push_back(msg); };
    });
    form->SelectNext(true);
    EXPECT_EQ(std::vector<std::string>{"Zadání položky je povinné !"}, errors);
    EXPECT_TRUE(form->field->Focused());
}

TEST(VEdit, NumericTypingExitAndDisplay)
{
    std::vector<std::string> errors;
    auto form = Shown([&](TVLabeledEdit& f) {
        f.EditType = teCurrency;
        f.Number.Valid = true;
        f.Number.ValueMin = 0;
        f.Number.ValueMax = 100000;
        f.OnError = [&](TObject*, const std::string& msg) { errors.push_back(msg); };
    });
    TVLabeledEdit& f = *form->field;
    EXPECT_EQ(std::string::npos, f.NumberChars().find('-'));
    for (char32_t c : U"12a34.5,6-")
        if (c)
            form->TypeChar(c);
    EXPECT_EQ("1234,56", f.Text());
    form->SelectNext(true);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ("1 234,56", f.Text());
    EXPECT_DOUBLE_EQ(1234.56, f.Value);
    EXPECT_EQ("1 234,56 Kč", f.ShownText());

    auto ints = Shown([](TVLabeledEdit& e) {
        e.EditType = teInteger;
        e.Number.DecimalShow = 3;
        e.Number.NumberNoneDoZero = true;
    });
    for (char32_t c : U"-7")
        if (c)
            ints->TypeChar(c);
    ints->TypeChar(U'-');  // a second minus
    EXPECT_EQ("-7", ints->field->Text());
    ints->field->SetText("-");
    ints->SelectNext(true);
    EXPECT_EQ("0", ints->field->Text());
    ints->field->SetText("12345,678");
    EXPECT_EQ("12 345", ints->field->ShownText());
}

TEST(VEdit, StringPaddingCaseAndMaskedTyping)
{
    auto form = Shown([](TVLabeledEdit& f) {
        f.StringEdit.AlignLeftChar = "0";
        f.MaxLength = 5;
    });
    form->TypeChar(U'4');
    form->TypeChar(U'2');
    form->SelectNext(true);
    EXPECT_EQ("00042", form->field->Text());

    auto proper = Shown([](TVLabeledEdit& f) { f.CaseMode = cmProperCase; });
    for (char32_t c : U"jan novák")
        if (c)
            proper->TypeChar(c);
    EXPECT_EQ("Jan Novák", proper->field->Text());

    auto masked = Shown([](TVLabeledEdit& f) {
        f.EditType = teMask;
        f.MaskEdit.Mask = "!99.99.9999";
        f.MaskEdit.MaskOnExit = vedit::moRevision;
    });
    masked->SetActiveControl(masked->next);
    EXPECT_EQ("", masked->field->Text());  // left untouched: no date made up
    masked->SetActiveControl(masked->field);
    EXPECT_EQ("__.__.____", masked->field->Text());
    EXPECT_EQ(0, masked->field->SelStart);
    for (char32_t c : U"3x1")
        if (c)
            masked->TypeChar(c);
    EXPECT_EQ("31.__.____", masked->field->Text());
    masked->PressKey(VK_BACK);
    EXPECT_EQ("3_.__.____", masked->field->Text());
}

TEST(VEdit, ComboItemsAndFixedVersion)
{
    TComboItems items = SplitComboItems("Praha‡PHA|Brno|Ostrava‡OVA");
    EXPECT_EQ((std::vector<std::string>{"Praha", "Brno", "Ostrava"}), items.Texts);
    EXPECT_EQ((std::vector<std::string>{"PHA", "", "OVA"}), items.Values);
    TVLabeledEdit edit(nullptr);
    edit.SetVersion("9.9");
    EXPECT_EQ("2.77", edit.Version());
}

TEST(VEdit, NumericFieldDrawsItselfAndTypesItsOwnKeys)
{
    auto form = Shown([](TVLabeledEdit& f) {
        f.EditType = teCurrency;
        f.Number.CurrPosition = ncCurrLeft;
    });
    TVLabeledEdit& f = *form->field;
    EXPECT_EQ(ckPainted, f.Kind());
    // Keys that a native edit would handle: typing, Backspace, caret keys and Delete.
    for (char c : std::string("12345"))
        form->PressKey(WORD(c));
    form->PressKey(VK_BACK);
    form->PressKey(VK_HOME);
    form->PressKey(VK_DELETE);
    EXPECT_EQ("234", f.Text());
    form->PressKey(VK_END);
    form->PressKey('5');
    EXPECT_EQ("2345", f.Text());
    f.SetText("1234567,891");
    form->SetActiveControl(form->next);
    const TBitmap shot = form->RenderToBitmap();
    const auto& texts = shot.Texts();
    auto shown = std::find_if(texts.begin(), texts.end(),
                              [](const TBitmap::TTextRecord& r) { return r.Text == "Kč1 234 567,89"; });
    ASSERT_NE(shown, texts.end());
    // Right-aligned: the text ends near the field's right edge, not at its left one.
    EXPECT_GT(shown->X, f.Left() + 10);
}

TEST(VEdit, ComboListPlacesItselfAndCloses)
{
    THeadlessWidgetSet* ui = HeadlessWidgetSet();
    ASSERT_NE(ui, nullptr);
    auto form = Shown([](TVLabeledEdit& f) {
        f.EditType = teComboBox;
        f.ComboBox.CloseIfMouseLeave = true;
    });
    form->SetBounds(100, Screen->Height - 60, 300, 120);  // the field sits near the screen's bottom
    TVLabeledEdit& f = *form->field;
    f.ComboBox.Items = "Praha‡PHA|Brno|Ostrava‡OVA";  // entering the field cleared any before
    f.SetText("Brno");
    int step = 0;
    ui->SetResponder([&](const TShown& s) -> std::optional<std::string> {
        TCombo* list = nullptr;
        for (TControl* c : s.Form->AllControls())
            if (!list)
                list = dynamic_cast<TCombo*>(c);
        if (!list)
            return "Cancel";
        if (step++ == 0) {
            EXPECT_EQ(1, list->ItemIndex());        // the field's text
            EXPECT_LT(s.Form->Top(), form->Top());  // above the field
            EXPECT_GE(s.Form->Left(), 100);
            list->MouseMove(0, 5, 5);
            list->MouseMove(0, -5, 5);  // in and out again: no choice
            return std::nullopt;
        }
        if (step == 2) {
            list->MouseDown(mbRight, 0, 5, 5);
            return std::nullopt;
        }
        list->SetItemIndex(2);
        WORD enter = VK_RETURN;
        list->KeyDown(enter, 0);
        return std::nullopt;
    });
    EXPECT_FALSE(f.ShowComboList());
    EXPECT_EQ(1, step);
    EXPECT_FALSE(f.ShowComboList());
    EXPECT_EQ(2, step);
    EXPECT_TRUE(f.ShowComboList());
    ui->SetResponder(nullptr);
    EXPECT_EQ("Ostrava", f.Text());
    EXPECT_EQ(2, f.ComboBox.ItemIndex);
}
