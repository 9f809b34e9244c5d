// The menu form: a small modal dialog built from a menu text, one colour button per item.
#pragma once

#include "app/lib/MenuText.h"
#include "app/lib/VColButton.h"

#include <string>
#include <vector>

class TFormMenu : public vcl::TForm {
public:
    explicit TFormMenu(vcl::TComponent* owner);
    ~TFormMenu() override;
    std::string ClassName() const override { return "TFormMenu"; }

    // Builds the controls of a menu text; false (and nothing built) for an empty text.
    bool Build(const std::string& options, int inOutNumber, const std::string& menuText, const std::string& title);
    // Shows the built menu modally: the chosen button index, or MenuCancelled.
    int Run();
    TMenuChoice Result(int index) const;
    void FreeControls();

    const TMenuModel& Model() const { return model_; }
    const TMenuOptions& MenuOptions() const { return options_; }
    const std::vector<TVColButton*>& Buttons() const { return buttons_; }
    const std::vector<vcl::TLabel*>& Labels() const { return labels_; }
    const std::vector<vcl::TCheckBox*>& CheckBoxes() const { return checkBoxes_; }
    int PreselectIndex() const { return preselect_; }
    int DefaultIndex() const { return default_; }
    int FocusedIndex() const { return focused_; }
    vcl::TImageList* ImageList;

private:
    void Layout();
    // Width the caption needs beside the title bar's buttons.
    int CaptionRoom() const;
    // Size and place over the main window.
    void Place();
    void MakeButton(const TMenuLine& line, int index, int& y, int width);
    void Choose(int index);
    void ButtonEntered(int index);
    void ButtonLeft(int index);
    void FormKeyDown(WORD& key);
    void FormKeyPress(char32_t& key);
    void FocusButton(int index);

    TMenuModel model_;
    TMenuOptions options_;
    std::string title_;
    std::vector<vcl::TLabel*> labels_;
    std::vector<TVColButton*> buttons_;
    std::vector<vcl::TCheckBox*> checkBoxes_;
    std::vector<vcl::TBevel*> bevels_;
    int focused_ = -1;
    int default_ = -1;
    int preselect_ = -1;
    int chosen_ = MenuCancelled;
    int contentWidth_ = 0, contentHeight_ = 0;
};

// Builds and shows a menu. The result is the chosen button's index, MenuCancelled (-1) or
// MenuEmpty (-2, nothing shown). For a choice, number gets the item's number, text its return
// text (with "‡" + the return text of every ticked check box) and caption its caption.
int BuildMenuForm(const std::string& options, int& number, std::string& text, const std::string& menuText,
                  const std::string& title, std::string* caption = nullptr);
int ShowMenu(const std::string& options, int& number, std::string& text, const std::string& menuText,
             const std::string& title);
int ShowMenu(const std::string& options, int& number, std::string& text, const std::string& menuText,
             const std::string& title, std::string& caption);
// Ends a menu that an earlier request left open.
void CloseMenuForm();
// The next build gives this image list to every button.
void SetMenuImageList(vcl::TImageList* images);
// The form of the last build (nullptr before the first).
TFormMenu* MenuForm();

// The look shared by every menu.
inline int MenuFontSize = 9;
inline bool MenuFontArial = false;
inline constexpr vcl::TColor MenuColourFocus = 0x9DFF9D;
inline constexpr vcl::TColor MenuColourFocusDown = 0xCCFFCC;
inline constexpr vcl::TColor MenuColourTextDown = 0x000080;
inline constexpr vcl::TColor MenuColourButton = 0x99CCFF;
