// The program's push button: drawn by itself in a focus colour while focused or default, in a
// second colour while held down, with up to four images, and with keys that move the focus to
// neighbouring controls.
#pragma once

#include "app/lib/FocusControl.h"
#include "platform/vcl/ComCtrls.h"

#include <string>
#include <vector>

using TColButtonOptions = unsigned;
constexpr TColButtonOptions cbDottedBox = 1, cbLikeButtonDown = 2, cbLiteButton = 4, cbMultiLine = 8,
                            cbViewLikePressDown = 16, cbViewLikePressUp = 32;

enum TImagesLayout { imImageLeft, imImageRight, imImageTop, imImageBottom };

class TVColButton : public vcl::TButton {
public:
    explicit TVColButton(vcl::TComponent* owner);
    std::string ClassName() const override { return "TVColButton"; }

    vcl::TColor ColorOnFocus = vcl::clLime;
    vcl::TColor ColorOnFocusDown = 0xCCFFCC;
    vcl::TColor ColorTextOnFocusDown = vcl::clMaroon;
    vcl::TColor ColorOnDisabled = vcl::clBtnFace;
    bool KeyTabOnKeyPress = false;
    TFocusControl FocusControl;
    TColButtonOptions Options = cbDottedBox;
    vcl::TAlignment Alignment = vcl::taCenter;
    vcl::TImageList* Images = nullptr;
    int ImagesSpace = 0;
    TImagesLayout ImagesLayout = imImageLeft;

    const std::string& Version() const { return version_; }
    void SetVersion(const std::string&) { version_ = "1.36"; }
    const std::string& ImagesIndex() const { return imagesIndex_; }
    // Numbers separated by any non-digits; only the first four count.
    void SetImagesIndex(const std::string& text);
    const std::vector<int>& ImageNumbers() const { return imageNumbers_; }
    vcl::TColor HighlightColor() const { return highlight_; }
    // The colour the face is filled with now.
    vcl::TColor FaceColor() const;

    void Loaded() override;
    void KeyDown(WORD& key, vcl::TShiftState shift) override;
    void KeyUp(WORD& key, vcl::TShiftState shift) override;
    void MouseDown(vcl::TMouseButton button, vcl::TShiftState shift, int x, int y) override;
    void MouseUp(vcl::TMouseButton button, vcl::TShiftState shift, int x, int y) override;
    void DrawButton(bool down, bool focused) override;

private:
    bool PressColouring() const;
    void PressStarted();
    void PressEnded();
    bool MoveFocusTo(vcl::TWinControl* target);
    std::vector<int> DrawnImages() const;

    std::string version_ = "1.36";
    std::string imagesIndex_;
    std::vector<int> imageNumbers_;
    vcl::TColor highlight_;
};
